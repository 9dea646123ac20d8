#include "FaultScan.h"

#include "SchemaGuide.h"
#include "xml/LibXmlSupport.h"
#include "xml/XmlDocument.h"
#include "xml/XmlNodeAccess.h"

#include <QSocketNotifier>

#include <algorithm>
#include <numeric>
#include <cstring>
#include <malloc.h>
#include <sys/mman.h>
#include <vector>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// A child may hang on a lock another thread held when it was forked.
constexpr int kChildTimeoutMs = 120000;

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

// The child's memory for libxml2: taken from fresh pages in order and
// never given back (the child ends when done). Reusing the heap's free
// blocks instead would write to pages the child still shares with the
// window, and each such write copies its page first.
namespace childHeap {

char *next = nullptr;
char *end = nullptr;
std::vector<std::pair<char *, char *>> chunks;

void *allocate(size_t size)
{
    size = (size + 15) & ~size_t(15);
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
    // Each block keeps its size before it, for realloc.
    *reinterpret_cast<size_t *>(next) = size;
    void *block = next + 16;
    next += size + 16;
    return block;
}

void release(void *) {}

size_t sizeOf(void *block)
{
    auto *p = static_cast<char *>(block);
    for (const auto &[from, to] : chunks) {
        if (p > from && p < to)
            return *reinterpret_cast<size_t *>(p - 16);
    }
    return ::malloc_usable_size(block); // the window's, from before the fork
}

void *reallocate(void *block, size_t size)
{
    if (!block)
        return allocate(size);
    void *moved = allocate(size);
    if (moved)
        std::memcpy(moved, block, std::min(size, sizeOf(block)));
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

// The child's answer: the count, then one line per fault, its node's
// position (-1: none), its route ("2.0.-1") and its message.
QByteArray answer(const XmlDocument &document, const SchemaGuide &guide)
{
    std::vector<SchemaGuide::Fault> faults;
    const int count = guide.check(document, &faults, FaultScan::kMaxFaults);
    QByteArray out = QByteArray::number(count) + '\n';
    for (const SchemaGuide::Fault &f : faults) {
        out += QByteArray::number(f.position) + '\t';
        for (std::size_t i = 0; i < f.route.size(); ++i)
            out += (i ? "." : "") + QByteArray::number(f.route[i]);
        out += '\t' + QString(f.message).replace(QLatin1Char('\n'), QLatin1Char(' ')).toUtf8() + '\n';
    }
    return out;
}

} // namespace

FaultScan::FaultScan(QObject *parent) : QObject(parent)
{
    m_watchdog.setSingleShot(true);
    m_watchdog.setInterval(kChildTimeoutMs);
    connect(&m_watchdog, &QTimer::timeout, this, &FaultScan::cancel);
}

FaultScan::~FaultScan()
{
    cancel();
}

void FaultScan::start(const XmlDocument &document, const SchemaGuide &guide)
{
    cancel();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
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
        const bool sent = writeAll(fds[1], answer(document, guide));
        ::_exit(sent ? 0 : 1);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return;
    }
    m_document = &document;
    m_pid = pid;
    m_pipe = fds[0];
    m_received.clear();
    m_notifier = new QSocketNotifier(m_pipe, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &FaultScan::readChild);
    m_watchdog.start();
}

void FaultScan::cancel()
{
    if (m_pid == 0)
        return;
    ::kill(m_pid, SIGKILL);
    // A killed child with a large copy of the editor takes a while to be
    // torn down; the keystroke that ended it does not wait for that.
    std::thread([pid = m_pid] { ::waitpid(pid, nullptr, 0); }).detach();
    m_pid = 0;
    release();
}

int FaultScan::release()
{
    int status = 0;
    if (m_pid != 0)
        ::waitpid(m_pid, &status, 0);
    m_pid = 0;
    m_watchdog.stop();
    delete m_notifier;
    m_notifier = nullptr;
    ::close(m_pipe);
    m_pipe = -1;
    return status;
}

void FaultScan::readChild()
{
    char buffer[65536];
    const ssize_t n = ::read(m_pipe, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
        return;
    if (n > 0) {
        m_received.append(buffer, n);
        return;
    }
    // End of the answer: the child has ended, or died.
    const int status = release();
    const bool complete = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const QList<QByteArray> lines = m_received.split('\n');
    m_received.clear();
    if (!complete || lines.isEmpty())
        return;
    const int count = lines.first().toInt();
    QList<Fault> faults;
    std::vector<std::pair<qint64, libxml::NodeRoute>> routes; // by fault
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].split('\t');
        if (fields.size() < 3)
            continue;
        libxml::NodeRoute route;
        for (const QByteArray &step : fields[1].split('.'))
            if (!step.isEmpty())
                route.push_back(step.toInt());
        const qint64 at = fields[0].toLongLong();
        routes.emplace_back(at, std::move(route));
        faults.append({XmlNode(), QString::fromUtf8(lines[i].mid(fields[0].size() + fields[1].size() + 2)), at});
    }
    // Followed in document order, so that walking a long list of children
    // costs once for all the faults below it, not once per fault: a walk of
    // the whole document would stop the window for a second at 500 MB. The
    // document is unchanged since the fork (every change cancels the check),
    // and a route only follows the tree's own links, so it cannot lead out.
    std::vector<int> order(faults.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return routes[a].first < routes[b].first; });
    std::vector<std::pair<int, void *>> from;
    for (int i : order) {
        if (routes[i].first >= 0)
            faults[i].node = XmlNodeAccess::handle(libxml::followRoute(m_document->rawDocument(), routes[i].second, &from));
    }
    emit finished(count, faults);
}
