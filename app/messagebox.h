// The one kind of message box the whole program uses: frameless, styled,
// draggable, deaf to Escape, with the translated product name as title and
// buttons in a fixed order. All boxes are modal and return only when the
// user has closed them.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QLabel;

// Receives the box's text label ("qt_msgbox_label") before the box is run,
// so that a caller can connect its linkActivated(QString).
using MessageBoxLabelSink = std::function<void(QLabel*)>;

// Shows `text` as rich text. With `titleHeader` the product title goes in
// bold above the text. Buttons are added in the order Yes, No, OK, Cancel,
// Abort, Retry, Ignore. Returns the button that closed the box.
QMessageBox::StandardButton showMessageBox(QMessageBox::Icon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons, bool titleHeader,
                                           const MessageBoxLabelSink& outLabel = {});

// The boxes below show their text as plain text: what users typed, chats,
// file names and errors hold is never read as markup.
void informationBox(const QString& text);
void warningBox(const QString& text);
// A question that deletes or overwrites: No is the default button, so Enter
// never answers Yes, and Escape answers No. True when the user chose Yes.
bool questionBox(const QString& text);
// The program's answer to an unexpected failure: the text framed with the
// support address (when one is configured); afterwards the plain text goes
// to the error report.
void errorBox(const QString& text);

// Where errorBox hands its text after the box is closed (the online error
// report installs itself here); none by default.
void setErrorReportHandler(std::function<void(const QString&)> handler);

// The rich text the error box shows for `text` (escaped).
QString errorBoxText(const QString& text);

// Plain text as the rich text of a box or label: escaped, line feeds kept.
QString plainToRichText(const QString& text);
