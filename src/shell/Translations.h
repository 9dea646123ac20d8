#pragma once

// Qt's own texts (the buttons of message boxes, the file, font and print
// dialogs, the context menus of text fields) in Japanese, with Japanese
// number, size and date formats, whatever the system's locale is: every
// text the editor writes itself is Japanese.

// Before the application object exists: Japanese becomes the default
// locale and the one Qt takes for the system's (the file dialog writes
// sizes and dates in that). The C library and the programs the editor
// starts keep the user's own settings.
void useJapaneseLocale();

// Installs Qt's Japanese catalogue into the running application, and the
// few texts it lacks. False when the catalogue is not installed (Debian's
// qt6-translations-l10n); Qt's texts then stay English.
bool installJapaneseQtTexts();
