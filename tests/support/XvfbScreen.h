#pragma once

// A private X server for tests that need real top-level windows: Xvfb on a
// display it picks itself, and an xcb connection that reads back where the
// windows are. No window manager runs, so top-level windows are children of
// the root window and nothing moves them but their own program and the test.

#include <QApplication>
#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

class XvfbScreen
{
public:
    XvfbScreen() = default;
    XvfbScreen(const XvfbScreen &) = delete;
    XvfbScreen &operator=(const XvfbScreen &) = delete;
    ~XvfbScreen()
    {
        if (m_x)
            xcb_disconnect(m_x);
        if (m_server.state() != QProcess::NotRunning) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }

    // Starts the server. Empty when it runs; otherwise why not, for QSKIP.
    // Before a QApplication exists, `boot` gives its start an event loop.
    // A test's arguments without "-platform NAME": a test on this server
    // runs on xcb, whatever it was started with.
    static std::vector<char *> withoutPlatform(int argc, char **argv)
    {
        std::vector<char *> args;
        for (int i = 0; i < argc; ++i) {
            if (std::strcmp(argv[i], "-platform") == 0 && i + 1 < argc) {
                ++i;
                continue;
            }
            args.push_back(argv[i]);
        }
        return args;
    }
    // Makes this process's windows appear on the server.
    void useForThisProcess() const
    {
        qputenv("DISPLAY", display());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }

    QString start(const char *size = "1200x800x24", int argc = 0, char **argv = nullptr)
    {
        const std::unique_ptr<QCoreApplication> boot(argv ? new QCoreApplication(argc, argv) : nullptr);
        const QString program = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (program.isEmpty())
            return QStringLiteral("Xvfb is not installed");
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // -displayfd 1: Xvfb picks a free display and names it on stdout.
        m_server.start(program, {"-displayfd", "1", "-screen", "0", size, "-nolisten", "tcp"});
        m_server.waitForStarted(5000);
        (void)QTest::qWaitFor([this] { return m_server.canReadLine() || m_server.state() != QProcess::Running; }, 10000);
        if (!m_server.canReadLine())
            return QStringLiteral("Xvfb did not start");
        m_display = ':' + m_server.readLine().trimmed();
        if (!connect())
            return QStringLiteral("cannot connect to Xvfb");
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_x)).data->root;
        return {};
    }

    // For DISPLAY.
    QByteArray display() const { return m_display; }

    // Closes the test's own connection, so the server has only the
    // clients under test; connect() makes it again.
    void disconnect()
    {
        xcb_disconnect(m_x);
        m_x = nullptr;
    }
    bool connect()
    {
        m_x = xcb_connect(m_display.constData(), nullptr);
        return xcb_connection_has_error(m_x) == 0;
    }
    xcb_connection_t *connection() const { return m_x; }
    xcb_window_t root() const { return m_root; }

    // The window's rectangle in root coordinates; empty once it is gone.
    QRect rootGeometry(quint32 window) const
    {
        const auto geometry = xcb_get_geometry_reply(m_x, xcb_get_geometry(m_x, window), nullptr);
        const auto origin = xcb_translate_coordinates_reply(m_x, xcb_translate_coordinates(m_x, window, m_root, 0, 0), nullptr);
        QRect rect;
        if (geometry && origin)
            rect = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
        std::free(geometry);
        std::free(origin);
        return rect;
    }

    // Side by side in list order, full height, no gap or overlap, together
    // the screen's width, widths differing by at most a pixel.
    bool tiledAsColumns(const QList<quint32> &windows) const
    {
        const QRect screen = rootGeometry(m_root);
        int x = 0, narrowest = screen.width(), widest = 0;
        for (const quint32 window : windows) {
            const QRect rect = rootGeometry(window);
            if (rect.x() != x || rect.y() != 0 || rect.height() != screen.height())
                return false;
            x += rect.width();
            narrowest = qMin(narrowest, rect.width());
            widest = qMax(widest, rect.width());
        }
        return x == screen.width() && widest - narrowest <= 1;
    }

    // The top-level window whose _NET_WM_NAME is `title`; 0 when there is none.
    quint32 findWindow(const QByteArray &title) const
    {
        static const char atomName[] = "_NET_WM_NAME";
        const auto atom = xcb_intern_atom_reply(m_x, xcb_intern_atom(m_x, 0, sizeof atomName - 1, atomName), nullptr);
        const auto tree = xcb_query_tree_reply(m_x, xcb_query_tree(m_x, m_root), nullptr);
        quint32 found = 0;
        if (atom && tree) {
            const xcb_window_t *children = xcb_query_tree_children(tree);
            for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
                const auto name = xcb_get_property_reply(
                    m_x, xcb_get_property(m_x, 0, children[i], atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr);
                if (name && xcb_get_property_value_length(name) == title.size()
                    && std::memcmp(xcb_get_property_value(name), title.constData(), size_t(title.size())) == 0)
                    found = children[i];
                std::free(name);
            }
        }
        std::free(atom);
        std::free(tree);
        return found;
    }

private:
    QProcess m_server;
    QByteArray m_display;
    xcb_connection_t *m_x = nullptr;
    xcb_window_t m_root = 0;
};

// main() of a test whose keys and focus are the X server's business: it
// runs on a server of its own, whatever platform it was started with.
template <class Test>
int execOnOwnServer(int argc, char **argv)
{
    XvfbScreen server;
    const QString noServer = server.start("1200x800x24", argc, argv);
    std::vector<char *> args = XvfbScreen::withoutPlatform(argc, argv);
    if (noServer.isEmpty())
        server.useForThisProcess();
    int count = int(args.size());
    QApplication app(count, args.data());
    Test test;
    return QTest::qExec(&test, count, args.data());
}
