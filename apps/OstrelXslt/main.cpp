// The worker that runs one user style sheet for the preview, apart from the
// editor: a style sheet that never ends or eats memory costs this process,
// which the editor kills, never the editor itself.
//
//   OstrelXslt STYLESHEET MEMORY_MB [OUTPUT_BYTES] < document > output
//
// With OUTPUT_BYTES, the transform stops once its output is longer than
// that: the reader needs no more, and a long transform ends early.
//
// On success the exit code is 0, the output is on standard output and its
// output method (html, text, xml or empty) is the one line on standard
// error, written before the output. Otherwise standard error holds the reason: exit code 1 for an
// error of the style sheet or the document, 3 for the memory limit.

#include "xml/XsltTransform.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <malloc.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kOutOfMemory = 3;

void outOfMemory()
{
    static const char text[] = "out of memory\n";
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, text, sizeof text - 1);
    ::_exit(kOutOfMemory);
}

// Page faults are most of a large parse's time here. When the kernel gives
// huge pages on request, the heap is grown once to about what the tree
// will take and that room asked for in huge pages; the tree is then made
// inside it, 512 times fewer faults. Within the memory limit only.
void heapInHugePages(qint64 documentBytes, long long memoryMb)
{
    const qint64 wanted = documentBytes * 16;
    if (wanted < (qint64(64) << 20) || (memoryMb > 0 && wanted > memoryMb * 1024 * 1024 / 2))
        return;
    // All from the heap, nothing given back while the tree is made.
    ::mallopt(M_MMAP_MAX, 0);
    ::mallopt(M_TRIM_THRESHOLD, INT_MAX);
    ::mallopt(M_TOP_PAD, 64 << 20);
    char *room = static_cast<char *>(std::malloc(size_t(wanted)));
    if (!room)
        return;
    constexpr quintptr huge = 2 << 20;
    const quintptr start = (quintptr(room) + huge - 1) & ~(huge - 1);
    const quintptr end = (quintptr(room) + quintptr(wanted)) & ~(huge - 1);
    if (end > start)
        ::madvise(reinterpret_cast<void *>(start), size_t(end - start), MADV_HUGEPAGE);
    std::free(room);
}

bool writeAll(std::FILE *to, const QByteArray &bytes)
{
    return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to) == size_t(bytes.size()) && std::fflush(to) == 0;
}

} // namespace

#if defined(__SANITIZE_ADDRESS__)
// Under the address sanitizer an allocation over the limit returns null, as
// it does in a normal build, instead of ending the process with a report.
extern "C" const char *__asan_default_options()
{
    return "allocator_may_return_null=1";
}
#endif

int main(int argc, char *argv[])
{
    // Ends with the editor, however the editor ends.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc != 3 && argc != 4)
        return 2;
    const long long memoryMb = std::atoll(argv[2]);
    limitAddressSpace(memoryMb);
    std::set_new_handler(outOfMemory);
    countAllocationFailures();
    leaveDocumentsToExit();

    QByteArray document;
    bool mapped = false;
    // Given as a file, the document is parsed where it lies, not copied.
    struct stat input;
    if (::fstat(STDIN_FILENO, &input) == 0 && S_ISREG(input.st_mode) && input.st_size > 0) {
        heapInHugePages(input.st_size, memoryMb);
        void *bytes = ::mmap(nullptr, size_t(input.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, STDIN_FILENO, 0);
        mapped = bytes != MAP_FAILED;
        if (mapped)
            document = QByteArray::fromRawData(static_cast<const char *>(bytes), qsizetype(input.st_size));
    }
    char buffer[1 << 16];
    for (size_t n; !mapped && (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
        document.append(buffer, qsizetype(n));

    const TransformResult result = transformWithStyleSheet(document, QString::fromLocal8Bit(argv[1]), argc == 4 ? std::atoll(argv[3]) : 0);
    if (result.outOfMemory)
        outOfMemory();
    if (!result.ok) {
        writeAll(stderr, result.error.toUtf8());
        return 1;
    }
    // The method first: an editor that reads only the start of a long
    // output still knows how to show it.
    return writeAll(stderr, result.method.toUtf8() + '\n') && writeAll(stdout, result.output) ? 0 : 1;
}
