#include "Window.h"

#include "QtPrompt.h"
#include "WindowPrompt.h"
#include "frmMain.h"
#include "document/DocumentLifecycle.h"

#include <QFileInfo>

Window::Window(std::unique_ptr<Prompt> prompt, QObject *parent) : QObject(parent)
{
    const bool qtDialogs = !prompt;
    auto windowPrompt = std::make_unique<WindowPrompt>(std::move(prompt));
    m_prompt = windowPrompt.get();
    m_frmMain = new frmMain(std::move(windowPrompt));
    if (qtDialogs)
        m_prompt->setInner(std::make_unique<QtPrompt>(m_frmMain));
    m_frmMain->setAttribute(Qt::WA_DeleteOnClose);
    m_hWnd = qint64(m_frmMain->windowHandle());
    connect(m_frmMain, &frmMain::Unload, this, &Window::m_frmMain_Unload);
    m_frmMain->ClearStatus();
}

Window::~Window()
{
    end();
}

void Window::m_frmMain_Unload()
{
    m_frmMain = nullptr;
    m_prompt = nullptr;
}

void Window::setInteractive(bool interactive)
{
    if (m_prompt)
        m_prompt->setSilent(!interactive);
}

Window::Result Window::begin()
{
    if (!m_frmMain)
        return {Result::WindowClosed, {}};
    m_prompt->clearMessages();
    return {};
}

Window::Result Window::failed(Result::Code code) const
{
    return {code, m_prompt ? m_prompt->messages().join(QLatin1Char('\n')) : QString()};
}

std::optional<bool> Window::Visible() const
{
    if (!m_frmMain)
        return std::nullopt;
    return m_frmMain->isVisible();
}

frmMain *Window::form() const
{
    return m_frmMain;
}

QString Window::fileName() const
{
    return m_frmMain ? m_frmMain->flags().m_FileName : QString();
}

Window::Result Window::setVisible(bool visible)
{
    Result r = begin();
    if (!r.ok())
        return r;
    m_frmMain->setVisible(visible);
    if (visible) {
        // Shown for a user who did not ask for it: bring it to the front.
        m_frmMain->raise();
        m_frmMain->activateWindow();
    }
    return r;
}

Window::Result Window::OpenFile(const QString &name)
{
    Result r = begin();
    if (!r.ok())
        return r;
    // The window keeps the file by its absolute path: programs started
    // on it later neither depend on the editor's folder nor read a name
    // starting with a dash as an option.
    const QString path = name.isEmpty() ? name : QFileInfo(name).absoluteFilePath();
    const bool hadDocument = m_frmMain->dom() != nullptr;
    const bool opened = m_frmMain->OpenFile(path);
    // A load the user cancelled leaves the window as it was, caption included.
    if (opened || (!hadDocument && QFileInfo(path).isFile() && !m_frmMain->lifecycle().wasCancelled()))
        m_frmMain->UpdateStatus(path);
    return opened ? r : failed(Result::OpenFailed);
}

Window::Result Window::Save()
{
    Result r = begin();
    if (!r.ok())
        return r;
    const auto &flags = m_frmMain->flags();
    if (!m_frmMain->dom())
        return failed(Result::NoDocument);
    if (!flags.m_HasFile)
        return failed(Result::NoFile);
    if (flags.m_ReadOnly)
        return failed(Result::ReadOnly);
    return m_frmMain->SaveFile(flags.m_FileName) ? r : failed(Result::SaveFailed);
}

Window::Result Window::SaveAs(const QString &path)
{
    Result r = begin();
    if (!r.ok())
        return r;
    if (!m_frmMain->dom())
        return failed(Result::NoDocument);
    return m_frmMain->SaveFile(path) ? r : failed(Result::SaveFailed);
}

Window::Result Window::Quit()
{
    return CloseWindow();
}

Window::Result Window::CloseWindow()
{
    if (m_frmMain)
        m_frmMain->closeWithoutAsking();
    return {};
}

void Window::end()
{
    if (m_ended)
        return;
    m_ended = true;
    if (frmMain *window = m_frmMain) {
        disconnect(window, nullptr, this, nullptr);
        m_frmMain = nullptr;
        if (m_prompt)
            m_prompt->setSilent(false);
        m_prompt = nullptr;
        if (!window->isVisible())
            window->closeWithoutAsking();
    }
    emit OnClose();
}
