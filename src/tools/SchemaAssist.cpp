#include "SchemaAssist.h"

#include "base/StringTable.h"
#include "document/DocumentHost.h"
#include "document/DocumentTreeModel.h"
#include "document/Selection.h"
#include "document/TreeBuilder.h"
#include "schema/FaultScan.h"
#include "xml/XmlDocument.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>

#include <algorithm>

namespace {

// The check waits for typing to pause this long.
constexpr int kPauseMs = 500;
// What a whole check costs per MB of the file, measured on the generated
// 50 MB document on an idle machine (about 1.5 s).
constexpr qint64 kCheckMsPerMb = 30;

QString located(const FaultScan::Fault &fault)
{
    const XmlNode at = fault.node.isAttribute() ? fault.node.ownerElement() : fault.node;
    const int line = at.lineNumber();
    return line > 0 ? QStringLiteral("%1 行目: %2").arg(line).arg(fault.message) : fault.message;
}

} // namespace

SchemaAssist::SchemaAssist(DocumentHost &host, QAction *live, QLabel *count, QObject *parent)
    : QObject(parent), m_host(host), m_live(live), m_countLabel(count), m_scan(new FaultScan(this))
{
    m_delay.setSingleShot(true);
    m_delay.setInterval(kPauseMs);
    connect(&m_delay, &QTimer::timeout, this, &SchemaAssist::startCheck);
    connect(m_scan, &FaultScan::finished, this, [this](int count, const QList<FaultScan::Fault> &faults) {
        QList<FaultScan::Fault> sorted = faults;
        std::stable_sort(sorted.begin(), sorted.end(), [](const auto &a, const auto &b) { return a.position < b.position; });
        // Past the faults kept, a later change could not be counted in.
        m_wholeNeeded = count != sorted.size();
        m_touched.clear();
        showChecked(count, sorted);
    });
    m_live->setCheckable(true);
    m_live->setEnabled(false);
    m_countLabel->setVisible(false);
    connect(m_live, &QAction::toggled, this, &SchemaAssist::setLive);
}

SchemaAssist::~SchemaAssist()
{
    setDocument(nullptr);
}

void SchemaAssist::setDocument(XmlDocument *document)
{
    if (document == m_document)
        return;
    if (m_document)
        m_document->removeObserver(this);
    forget();
    m_document = document;
    if (m_document)
        m_document->addObserver(this);
}

void SchemaAssist::forget()
{
    m_scan->cancel();
    m_delay.stop();
    m_guide.reset();
    m_source = SchemaSource();
    m_faultOrder.clear();
    m_faults.clear();
    m_touched.clear();
    m_wholeNeeded = true;
    m_count = 0;
    m_live->setEnabled(false);
}

void SchemaAssist::documentReplaced()
{
    // Every node is new; so may be the document type.
    forget();
}

void SchemaAssist::refresh(const QString &chosenPath)
{
    const QString documentPath = m_host.flags().m_HasFile ? QFileInfo(m_host.flags().m_FileName).absoluteFilePath() : QString();
    if (!m_document || !m_document->documentElement()) {
        forget(); // nothing to guide
        return;
    }
    const SchemaSource source = schemaInUse(*m_document, chosenPath, documentPath);
    if (m_guide && source == m_source && chosenPath == m_chosenPath && documentPath == m_documentPath)
        return;
    const bool sameSchema = m_guide && source == m_source;
    const bool chosen = chosenPath != m_chosenPath;
    m_chosenPath = chosenPath;
    m_documentPath = documentPath;
    if (sameSchema)
        return;
    m_source = source;
    m_scan->cancel();
    m_guide.reset();
    m_wholeNeeded = true;
    QString said; // what the status bar says of the schema
    if (!source.isNone()) {
        // A schema too large to hold is no reason to stop the editor.
        try {
            auto guide = std::make_unique<SchemaGuide>(*m_document, source);
            // Why nothing guides: a part refused (too large, remote, no
            // regular file), named.
            said = guide->failure();
            if (guide->isUsable())
                m_guide = std::move(guide);
        } catch (const std::exception &) {
        }
    }
    m_live->setEnabled(m_guide != nullptr);
    if (m_guide)
        said = GetResString(23).arg(source.shownName());
    if (m_guide && pauseMs() > kPauseMs)
        said += QLatin1Char(' ') + GetResString(32).arg(pauseMs() / 1000);
    if (said.isEmpty()) {
    } else if (chosen) {
        // The validation the choice starts reports next, and its result
        // is what stays.
        m_host.setStatusText(said);
    } else {
        // Said once the opened document is shown, which empties the status.
        QTimer::singleShot(0, this, [this, said, guide = m_guide.get()] {
            if (m_guide.get() == guide)
                m_host.setStatusText(said);
        });
    }
    if (!m_guide) {
        if (!m_host.model().faults().isEmpty())
            showFaults(0, {}, {});
        return;
    }
    if (m_live->isChecked())
        m_delay.start(0);
}

qint64 &SchemaAssist::largeDocumentBytes()
{
    static qint64 bytes = qint64(100) << 20;
    return bytes;
}

int SchemaAssist::pauseMs() const
{
    const qint64 size = m_document ? m_document->sourceSize() : 0;
    if (size <= largeDocumentBytes())
        return kPauseMs;
    // Whole seconds, as the status bar tells them.
    const qint64 ms = std::max<qint64>(kPauseMs, size * kCheckMsPerMb / (qint64(1) << 20));
    return int(std::min<qint64>((ms + 999) / 1000, 600) * 1000);
}

void SchemaAssist::showChecked(int count, const QList<FaultScan::Fault> &faults)
{
    m_faults = faults;
    QList<XmlNode> nodes;
    QHash<XmlNode, QString> marks;
    for (const FaultScan::Fault &f : faults) {
        if (f.node.isNull())
            continue;
        QString &mark = marks[f.node];
        if (mark.isEmpty())
            nodes << f.node;
        mark += (mark.isEmpty() ? QString() : QStringLiteral("\n")) + located(f);
    }
    showFaults(count, nodes, marks);
}

void SchemaAssist::textChanged(const XmlNode &node, const QString &)
{
    // A value changed: only the element that holds it may read otherwise.
    // Kept track of only while a check is to come that may use it.
    if (!m_wholeNeeded && m_guide && m_live->isChecked()) {
        const XmlNode holder = node.isAttribute() ? node.ownerElement() : node.parentNode();
        if (holder.isNull() || !holder.isElement())
            m_wholeNeeded = true;
        else if (!m_touched.contains(holder))
            m_touched << holder;
        // Many places apart: one whole check does better.
        if (m_touched.size() > 16) {
            m_wholeNeeded = true;
            m_touched.clear();
        }
    }
    changed();
}

void SchemaAssist::changedWhole()
{
    m_wholeNeeded = true;
    changed();
}

bool SchemaAssist::checkChangedSubtrees()
{
    if (m_wholeNeeded || m_touched.isEmpty())
        return false;
    QList<FaultScan::Fault> faults = m_faults;
    for (const XmlNode &element : std::as_const(m_touched)) {
        std::vector<std::pair<XmlNode, QString>> found;
        if (!m_guide->checkWithin(element, &found))
            return false;
        faults.removeIf([&element](const FaultScan::Fault &f) {
            const XmlNode at = f.node.isAttribute() ? f.node.ownerElement() : f.node;
            return !at.isNull() && (at == element || element.isAncestorOf(at));
        });
        // Each where it stands in document order; those naming no node first.
        for (const auto &[node, message] : found) {
            const auto at = std::upper_bound(faults.begin(), faults.end(), node, [](const XmlNode &n, const FaultScan::Fault &f) {
                return !f.node.isNull() && precedesInDocument(n, f.node);
            });
            faults.insert(at, FaultScan::Fault{node, message, -1});
        }
    }
    m_touched.clear();
    showChecked(int(faults.size()), faults);
    return true;
}

void SchemaAssist::changed()
{
    m_scan->cancel();
    // Only a whole check is long enough to wait longer for on a large file.
    if (m_guide && m_live->isChecked())
        m_delay.start(m_wholeNeeded ? pauseMs() : kPauseMs);
}

void SchemaAssist::nodeRemoved(const XmlNode &, const XmlNode &node, const XmlNode &)
{
    // A removed node may be freed before the next check says anything.
    const auto under = [&node](const XmlNode &n) { return node.isAncestorOf(n.isAttribute() ? n.ownerElement() : n) || n == node; };
    m_faultOrder.removeIf(under);
    m_faults.removeIf([&under](const FaultScan::Fault &f) { return !f.node.isNull() && under(f.node); });
    m_touched.removeIf(under);
    changedWhole();
}

void SchemaAssist::startCheck()
{
    if (!m_guide || !m_document || !m_live->isChecked() || m_host.flags().m_Saving)
        return;
    // The fork waits for the work a load leaves running (seconds on a large
    // file); the check comes a pause later instead.
    if (!m_document->isSettled()) {
        m_delay.start(kPauseMs);
        return;
    }
    if (checkChangedSubtrees())
        return;
    m_scan->start(*m_document, *m_guide);
}

void SchemaAssist::showFaults(int count, const QList<XmlNode> &nodes, const QHash<XmlNode, QString> &marks)
{
    m_count = count;
    m_faultOrder = nodes;
    m_host.model().setFaults(marks);
    m_countLabel->setText(count > 0 ? GetResString(22).arg(count) : QString());
    m_countLabel->setVisible(count > 0);
    emit checked();
}

void SchemaAssist::setLive(bool on)
{
    m_wholeNeeded = true;
    if (on) {
        changed();
        return;
    }
    m_scan->cancel();
    m_delay.stop();
    showFaults(0, {}, {});
}

QStringList SchemaAssist::namesFor(const XmlNode &node) const
{
    if (!m_guide || node.isNull())
        return QStringList();
    if (node.isAttribute())
        return m_guide->attributeNames(node.ownerElement(), node);
    return node.isElement() ? m_guide->elementNames(node) : QStringList();
}

QString SchemaAssist::attributeProposal(const XmlNode &element) const
{
    const QString name = m_guide ? m_guide->missingRequiredAttribute(element) : QString();
    // A new attribute is made before it is named: its prefix must be bound.
    return name.isEmpty() || m_guide->declarationFor(element, name, true).second.isEmpty() ? name : QString();
}

std::pair<QString, QString> SchemaAssist::declarationFor(const XmlNode &node, const QString &name) const
{
    if (!m_guide || node.isNull())
        return {};
    return node.isAttribute() ? m_guide->declarationFor(node.ownerElement(), name, true) : m_guide->declarationFor(node, name, false);
}

QStringList SchemaAssist::valuesFor(const XmlNode &node) const
{
    return m_guide && node.isAttribute() ? m_guide->attributeValues(node) : QStringList();
}

void SchemaAssist::selectFault(bool forward)
{
    QList<XmlNode> faults;
    for (const XmlNode &n : std::as_const(m_faultOrder)) {
        if (n.isAttached() || (n.isAttribute() && n.ownerElement().isAttached()))
            faults << n;
    }
    if (faults.isEmpty())
        return;
    const XmlNode current = m_host.selection().GetDOMNode(m_host.selection().selectedItem());
    XmlNode target;
    if (forward) {
        auto after = std::find_if(faults.begin(), faults.end(), [&](const XmlNode &n) { return current.isNull() || precedesInDocument(current, n); });
        target = after == faults.end() ? faults.first() : *after;
    } else {
        auto before = std::find_if(faults.rbegin(), faults.rend(), [&](const XmlNode &n) { return !current.isNull() && precedesInDocument(n, current); });
        target = before == faults.rend() ? faults.last() : *before;
    }
    const QModelIndex item = m_host.model().indexForNode(target);
    if (!item.isValid())
        return;
    m_host.treeBuilder().EnsureVisible(item);
    m_host.selection().ShowNode(item, true);
}
