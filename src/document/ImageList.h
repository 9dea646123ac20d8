#pragma once

#include <QIcon>
#include <QString>

// The window's image list: one 16x16 image per key, drawn by the project.
// Keys: the six node kinds ("IXMLDOMElement", ...) and the toolbar's
// ("new", "open", ...).
class ImageList
{
public:
    // The image of a key; a null icon for an unknown key.
    static QIcon icon(const QString &key);
    static bool has(const QString &key);
};
