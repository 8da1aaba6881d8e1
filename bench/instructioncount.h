#pragma once

#include <QByteArray>
#include <QStringList>

// User-space instructions of stretches of a benchmark, counted exactly, so
// that a change's effect shows to the instruction even on a loaded machine.
//
// The counted run is the benchmark started with "--count" as its first
// argument, under one of two counters:
// - callgrind, which runCounted() starts here; only the measuring thread's
//   instructions count, not those of the threads that play the host;
// - qemu-user with the plugin built from scripts/qemu-insn-count.c, for a
//   program built for another machine (scripts/bench-armhf.sh); the plugin
//   counts the guest's instructions between two marker system calls and
//   writes the count to the file named by BREV_INSN_COUNT_FILE.
namespace InstructionCount {

// Whether this process is the counted run.
bool counting(int argc, char **argv);

void begin();
// The instructions since begin(), or -1 when no counter watches this run.
double end();

// Runs `work` and returns the instructions it took, or -1.
template <typename Work>
double measure(Work &&work)
{
    begin();
    work();
    return end();
}

// Runs this program again under callgrind with "--count" and `arguments`,
// and passes on what it prints.
void runCounted(const QStringList &arguments = {});

// `instructions` per MiB of `bytes`, in millions ("4.51 M"), or "?".
QByteArray perMib(double instructions, double bytes);

} // namespace InstructionCount
