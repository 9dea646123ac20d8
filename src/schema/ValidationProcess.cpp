#include "ValidationProcess.h"

#include "ForkedChild.h"
#include "xml/LibXmlSupport.h"
#include "base/StringTable.h"
#include "xml/XmlDocument.h"
#include "xml/XmlNodeAccess.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <numeric>
#include <poll.h>
#include <unistd.h>
#include <unordered_map>

namespace {

// The child's answer after its progress lines ("p<per mille>"): "r", the
// schema error, the count of errors, then one line per error: its node's
// position in document order (-1: none), its route ("2.0.-1") and its
// reason; "e" ends it. Texts are in Base64, so any line ends they hold
// stay theirs.
QByteArray answer(const XmlDocument &document, const ValidationResult &r)
{
    std::unordered_map<void *, std::pair<qint64, libxml::NodeRoute>> found;
    for (const ValidationError &e : r.errors) {
        if (void *node = XmlNodeAccess::raw(e.node))
            found.emplace(node, std::pair<qint64, libxml::NodeRoute>(-1, {}));
    }
    std::size_t left = found.size();
    if (left > 0) {
        libxml::forEachInDocumentOrder(document.rawDocument(), [&](void *node, qint64 n, const libxml::NodeRoute &route) {
            auto it = found.find(node);
            if (it != found.end() && it->second.first < 0) {
                it->second = {n, route};
                --left;
            }
            return left > 0;
        });
    }
    QByteArray out = "r\n" + r.schemaError.toUtf8().toBase64() + '\n' + QByteArray::number(r.errorCount) + '\n';
    for (const ValidationError &e : r.errors) {
        const auto it = found.find(XmlNodeAccess::raw(e.node));
        const qint64 at = it == found.end() ? -1 : it->second.first;
        out += QByteArray::number(at) + '\t';
        if (at >= 0) {
            for (std::size_t i = 0; i < it->second.second.size(); ++i)
                out += (i ? "." : "") + QByteArray::number(it->second.second[i]);
        }
        out += '\t' + e.reason.toUtf8().toBase64() + '\n';
    }
    return out + "e\n";
}

bool work(int fd, const XmlDocument &document, const QString &schemaPath, SchemaKind kind)
{
    ValidationRun run(document, schemaPath, kind);
    run.leaveCopy();
    run.onProgress([fd](int perMille) { forked::writeAll(fd, 'p' + QByteArray::number(perMille) + '\n'); });
    run.run();
    return forked::writeAll(fd, answer(document, run.result(true)));
}

} // namespace

ValidationProcess::ValidationProcess(const XmlDocument &document, const QString &schemaPath, SchemaKind kind)
    : m_document(document), m_schemaName(QFileInfo(schemaPath).fileName())
{
    m_pid = forked::start(document, [&](int fd) { return work(fd, document, schemaPath, kind); }, &m_pipe);
    if (m_pid < 0) {
        m_result = validateDocument(document, schemaPath, kind);
        m_finished = true;
    }
}

ValidationProcess::~ValidationProcess()
{
    cancel();
}

void ValidationProcess::cancel()
{
    if (m_pid <= 0)
        return;
    forked::end(m_pid);
    m_pid = -1;
    ::close(m_pipe);
    m_pipe = -1;
}

bool ValidationProcess::wait(int ms)
{
    if (m_finished || m_pid <= 0)
        return true;
    pollfd p{m_pipe, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0)
        return false;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(m_pipe, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // the end of the answer: the child has ended, or died
        m_received.append(buffer, n);
        // Progress comes first, a line at a time.
        qsizetype line;
        while (m_received.startsWith('p') && (line = m_received.indexOf('\n')) > 0) {
            m_progress = m_received.mid(1, line - 1).toInt();
            m_received.remove(0, line + 1);
        }
        // The answer is complete before the child has given its memory
        // back, which takes a while after a large document.
        if (m_received.endsWith("\ne\n"))
            break;
        p.revents = 0;
        if (::poll(&p, 1, 0) <= 0)
            return false;
    }
    finish();
    return true;
}

void ValidationProcess::finish()
{
    const bool complete = m_received.startsWith("r\n") && m_received.endsWith("\ne\n");
    cancel(); // done with, or died
    m_finished = true;
    QList<QByteArray> lines = m_received.split('\n');
    m_received.clear();
    if (!complete || lines.size() < 5) {
        // Killed from outside, out of memory or crashed: no verdict.
        m_result.schemaError = GetResString(29).arg(m_schemaName);
        return;
    }
    m_result.schemaError = QString::fromUtf8(QByteArray::fromBase64(lines[1]));
    m_result.errorCount = lines[2].toInt();
    for (qsizetype i = 3; i < lines.size() - 2; ++i) {
        const QList<QByteArray> fields = lines[i].split('\t');
        if (fields.size() != 3)
            continue;
        std::vector<int> route;
        for (const QByteArray &step : fields[1].split('.'))
            if (!step.isEmpty())
                route.push_back(step.toInt());
        m_routes.emplace_back(fields[0].toLongLong(), std::move(route));
        m_result.errors.append({QString::fromUtf8(QByteArray::fromBase64(fields[2])), XmlNode()});
    }
}

ValidationResult ValidationProcess::result(bool withNodes) const
{
    ValidationResult r = m_result;
    if (!withNodes || m_routes.empty()) {
        if (!withNodes) {
            for (ValidationError &e : r.errors)
                e.node = XmlNode();
        }
        return r;
    }
    // Followed in document order, so that a long list of children is
    // walked once for all the errors below it. The document is as it was at
    // the fork, and a route only follows the tree's own links.
    std::vector<int> order(m_routes.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return m_routes[a].first < m_routes[b].first; });
    std::vector<std::pair<int, void *>> from;
    for (int i : order) {
        if (m_routes[i].first >= 0)
            r.errors[i].node = XmlNodeAccess::handle(libxml::followRoute(m_document.rawDocument(), m_routes[i].second, &from));
    }
    return r;
}
