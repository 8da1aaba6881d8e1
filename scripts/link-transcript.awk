# Turns socat's -v transcript of the printer link into one time-stamped line
# per line of traffic: "HH:MM:SS  host -> printer  TEXT". Pieces of more than
# 256 bytes are print data or update files, not commands or answers: a run of
# them is summed up in one line instead.
function show(text) {
    sub(/\\r$/, "", text)
    if (text != "" && !bulk) print prefix text
}
function flush_bulk() {
    if (bulk_bytes > 0) print prefix "(" bulk_bytes " bytes of data)"
    bulk_bytes = 0
}
{
    line = $0
    while (match(line, /[<>] [0-9\/]+ [0-9:]+\.[0-9]+  length=[0-9]+ from=[0-9]+ to=[0-9]+/)) {
        show(substr(line, 1, RSTART - 1))
        split(substr(line, RSTART, RLENGTH), field, " ")
        size = substr(field[4], 8) + 0
        if (field[1] != direction || size <= 256) flush_bulk()
        direction = field[1]
        prefix = substr(field[3], 1, 8) (field[1] == ">" ? "  host -> printer  " : "  printer -> host  ")
        bulk = size > 256
        if (bulk) bulk_bytes += size
        line = substr(line, RSTART + RLENGTH)
    }
    show(line)
    fflush()
}
