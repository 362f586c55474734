#pragma once
class QLabel;
class QString;

namespace tn::ui {

// Our accessible interfaces, installed once per application (later calls do nothing):
// - a label of ours says what it shows as its name and offers the shown text as its value and
//   as read-only text, so "Web Upload" reads "1.87 MB" too;
// - a combo box is named by what it is ("Host to ping"), its current entry is its value; Qt on
//   Linux would announce the entry as the name.
void installAccessibility();

// Sets a value label's text and tells a listening screen reader that it changed.
void setShownText(QLabel* label, const QString& text);

} // namespace tn::ui
