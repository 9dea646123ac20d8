#include "ForkedChild.h"

#include "xml/LibXmlSupport.h"
#include "xml/XmlDocument.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The child's memory for libxml2: taken from fresh pages and never given
// back to the system (the child ends when done). Reusing the heap's free
// blocks instead would write to pages the child still shares with the
// window, and each such write copies its page first. A block the child
// frees is kept for its next request of that size class, so a validation
// that allocates and frees as it goes (RELAX NG's states) stays as small
// as it would be in the window.
namespace childHeap {

char *next = nullptr;
char *end = nullptr;
std::vector<std::pair<char *, char *>> chunks;
// Size classes: multiples of 16 up to 1 KiB, then powers of two.
constexpr size_t kSmall = 1024;
constexpr int kClasses = 64 + 64;
void *freed[kClasses]; // the first free block of each class; each holds the next

int classOf(size_t *size)
{
    if (*size <= kSmall) {
        *size = std::max<size_t>(16, (*size + 15) & ~size_t(15));
        return int(*size / 16) - 1;
    }
    int bits = 11;
    while ((size_t(1) << bits) < *size)
        ++bits;
    *size = size_t(1) << bits;
    return 64 + bits - 11;
}

bool ours(void *block)
{
    auto *p = static_cast<char *>(block);
    for (auto it = chunks.rbegin(); it != chunks.rend(); ++it) {
        if (p > it->first && p < it->second)
            return true;
    }
    return false;
}

void *allocate(size_t size)
{
    const int sizeClass = classOf(&size);
    if (sizeClass < kClasses && freed[sizeClass]) {
        void *block = freed[sizeClass];
        freed[sizeClass] = *static_cast<void **>(block);
        return block;
    }
    if (size_t(end - next) < size + 16) {
        const size_t chunk = std::max<size_t>(size + 16, size_t(64) << 20);
        void *fresh = ::mmap(nullptr, chunk, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (fresh == MAP_FAILED)
            return nullptr;
        ::madvise(fresh, chunk, MADV_HUGEPAGE);
        next = static_cast<char *>(fresh);
        end = next + chunk;
        chunks.emplace_back(next, end);
    }
    // Each block keeps its size before it, for realloc and reuse.
    *reinterpret_cast<size_t *>(next) = size;
    void *block = next + 16;
    next += size + 16;
    return block;
}

// Blocks of the window's heap, from before the fork, are left alone.
void release(void *block)
{
    if (!block || !ours(block))
        return;
    size_t size = *reinterpret_cast<size_t *>(static_cast<char *>(block) - 16);
    const int sizeClass = classOf(&size);
    if (sizeClass >= kClasses)
        return;
    *static_cast<void **>(block) = freed[sizeClass];
    freed[sizeClass] = block;
}

size_t sizeOf(void *block)
{
    if (ours(block))
        return *reinterpret_cast<size_t *>(static_cast<char *>(block) - 16);
    return ::malloc_usable_size(block); // the window's, from before the fork
}

void *reallocate(void *block, size_t size)
{
    if (!block)
        return allocate(size);
    const size_t had = sizeOf(block);
    if (size <= had && ours(block))
        return block;
    void *moved = allocate(size);
    if (moved) {
        std::memcpy(moved, block, std::min(size, had));
        release(block);
    }
    return moved;
}

char *duplicate(const char *text)
{
    const size_t length = std::strlen(text) + 1;
    auto *copy = static_cast<char *>(allocate(length));
    if (copy)
        std::memcpy(copy, text, length);
    return copy;
}

} // namespace childHeap

} // namespace

namespace forked {

int start(const XmlDocument &document, const std::function<bool(int fd)> &work, int *readEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    const pid_t parent = ::getpid();
    // The child has this thread only: nothing it reads may be left to another.
    document.settle();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(1);
        ::close(fds[0]);
        libxml::useChildHeap(childHeap::release, childHeap::allocate, childHeap::reallocate, childHeap::duplicate);
        ::_exit(work(fds[1]) ? 0 : 1);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return -1;
    }
    *readEnd = fds[0];
    return pid;
}

bool writeAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

void end(int pid)
{
    static std::vector<pid_t> dying;
    static bool armed = false;
    if (pid == 0)
        armed = false;
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        dying.push_back(pid);
    }
    // Reaped from the event loop once torn down: no thread waits for them.
    std::erase_if(dying, [](pid_t p) { return ::waitpid(p, nullptr, WNOHANG) != 0; });
    if (!dying.empty() && !armed && QCoreApplication::instance()) {
        armed = true;
        QTimer::singleShot(50, QCoreApplication::instance(), [] { end(0); });
    }
}

} // namespace forked
