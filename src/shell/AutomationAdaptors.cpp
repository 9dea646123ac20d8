#include "AutomationAdaptors.h"

#include "AutomationServer.h"
#include "AutomationWindow.h"

OstrelEditAdaptor::OstrelEditAdaptor(AutomationServer *server) : QDBusAbstractAdaptor(server), m_server(server) {}

QDBusObjectPath OstrelEditAdaptor::CreateWindow()
{
    return m_server->CreateWindow();
}

WindowAdaptor::WindowAdaptor(AutomationWindow *object) : QDBusAbstractAdaptor(object), m_object(object) {}

qint64 WindowAdaptor::hWnd() const
{
    return m_object->hWnd();
}

bool WindowAdaptor::ReadOnly() const
{
    return m_object->ReadOnly();
}

bool WindowAdaptor::Visible() const
{
    return m_object->Visible();
}

void WindowAdaptor::setVisible(bool visible)
{
    m_object->setVisible(visible);
}

void WindowAdaptor::OpenFile(const QString &p_strFileName)
{
    m_object->OpenFile(p_strFileName);
}

void WindowAdaptor::Save()
{
    m_object->Save();
}

void WindowAdaptor::SaveAs(const QString &p_strFileName)
{
    m_object->SaveAs(p_strFileName);
}

void WindowAdaptor::Quit()
{
    m_object->Quit();
}

void WindowAdaptor::CloseWindow()
{
    m_object->CloseWindow();
}

void WindowAdaptor::Release()
{
    m_object->Release();
}

WindowPropertiesAdaptor::WindowPropertiesAdaptor(AutomationWindow *object)
    : QDBusAbstractAdaptor(object), m_object(object)
{
}

QDBusVariant WindowPropertiesAdaptor::Get(const QString &interface_name, const QString &property_name)
{
    return m_object->getProperty(interface_name, property_name);
}

void WindowPropertiesAdaptor::Set(const QString &interface_name, const QString &property_name,
                                  const QDBusVariant &value)
{
    m_object->putProperty(interface_name, property_name, value);
}

QVariantMap WindowPropertiesAdaptor::GetAll(const QString &interface_name)
{
    return m_object->allProperties(interface_name);
}
