#include "FaultScan.h"

#include "ForkedChild.h"
#include "xml/LibXmlSupport.h"
#include "SchemaGuide.h"
#include "xml/LibXmlSupport.h"
#include "xml/XmlDocument.h"
#include "xml/XmlNodeAccess.h"

#include <QSocketNotifier>

#include <algorithm>
#include <malloc.h>
#include <numeric>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A child may hang on a lock another thread held when it was forked.
constexpr int kChildTimeoutMs = 120000;

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
    int pipe = -1;
    const int pid = forked::start(document, [&](int fd) {
        // The child's own allocator: without fast bins, each piece's nodes
        // are merged as they are freed, and the next piece takes them
        // without sorting hundreds of thousands of small chunks first (a
        // quarter of the check's time).
        ::mallopt(M_MXFAST, 0);
        return forked::writeAll(fd, answer(document, guide));
    }, &pipe);
    if (pid < 0)
        return;
    m_document = &document;
    m_pid = pid;
    m_pipe = pipe;
    m_received.clear();
    m_notifier = new QSocketNotifier(m_pipe, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &FaultScan::readChild);
    m_watchdog.start();
}

void FaultScan::cancel()
{
    if (m_pid == 0)
        return;
    // The keystroke that ended it does not wait for its teardown.
    forked::end(m_pid);
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
