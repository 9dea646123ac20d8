#pragma once

class QWidget;

// A completer's list closes on a click outside it and swallows that click.
// Installed on the list, the click closes the list and then goes where it
// was aimed, as without a list. The completer puts its own filter first
// again whenever it is given a model: call this again after each.
void passOnClicksOutside(QWidget *list);
