// call-root SOCKET [ARGUMENT...]: has one of the package's root units do its
// job. Sends the arguments, one per line, to the unit's socket, waits for the
// job to end and ends with the exit status the unit answers; 255 when there
// is none (the socket refused the connection, or the unit ended without an
// answer). Plain C++: it runs for as long as the job does.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int noAnswer = 255;

int fail(const char *what, const char *socketPath)
{
    std::fprintf(stderr, "call-root: %s: %s: %s\n", socketPath, what, std::strerror(errno));
    return noAnswer;
}

bool writeAll(int fd, const std::string &data)
{
    for (size_t done = 0; done < data.size();) {
        const ssize_t written = ::write(fd, data.data() + done, data.size() - done);
        if (written < 0 && errno != EINTR)
            return false;
        done += written > 0 ? size_t(written) : 0;
    }
    return true;
}

// Everything the unit sends until it closes the connection.
bool readAll(int fd, std::string &answer)
{
    char chunk[64];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0)
            return true;
        if (got < 0 && errno != EINTR)
            return false;
        if (got > 0)
            answer.append(chunk, size_t(got));
    }
}

// The answer is the job's exit status, in decimal, on a line of its own.
int statusOf(const std::string &answer)
{
    char *end = nullptr;
    const long status = std::strtol(answer.c_str(), &end, 10);
    if (answer.empty() || end == answer.c_str() || std::string(end) != "\n" || status < 0 || status > 255)
        return -1;
    return int(status);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: call-root SOCKET [ARGUMENT...]\n");
        return noAnswer;
    }
    const char *socketPath = argv[1];
    std::string request;
    for (int i = 2; i < argc; ++i) {
        if (std::strchr(argv[i], '\n')) {
            std::fprintf(stderr, "call-root: an argument holds a line end\n");
            return noAnswer;
        }
        request += std::string(argv[i]) + '\n';
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(socketPath) >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return fail("bad socket", socketPath);
    }
    std::strcpy(address.sun_path, socketPath);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail("no socket", socketPath);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return fail("cannot connect", socketPath);
    std::string answer;
    if (!writeAll(fd, request) || ::shutdown(fd, SHUT_WR) != 0)
        return fail("cannot send the request", socketPath);
    if (!readAll(fd, answer))
        return fail("no answer", socketPath);
    const int status = statusOf(answer);
    if (status < 0) {
        std::fprintf(stderr, "call-root: %s: the job ended without an exit status\n", socketPath);
        return noAnswer;
    }
    return status;
}
