#pragma once

// Qt's own texts (the buttons of message boxes, the file, font and print
// dialogs, the context menus of text fields) in Japanese, with Japanese
// number, size and date formats, whatever the system's locale is: every
// text the editor writes itself is Japanese.

// Japanese becomes the default locale: the one widgets write numbers and
// dates in (the file dialog's columns: QtPrompt). The system's locale, which
// the C library and the programs the editor starts use, stays the user's.
void useJapaneseLocale();

// Installs Qt's Japanese catalogue into the running application, and the
// few texts it lacks. False when the catalogue is not installed (Debian's
// qt6-translations-l10n); Qt's texts then stay English.
bool installJapaneseQtTexts();
