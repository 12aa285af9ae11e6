#include "app/messagebox.h"

#include "app/stylesheet.h"
#include "app/winmovable.h"
#include "base/productinfo.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLayout>
#include <QPixmap>
#include <QPushButton>

namespace {

std::function<void(const QString&)>& errorReportHandler()
{
    static std::function<void(const QString&)> handler;
    return handler;
}

QString tr(const char* text) { return QCoreApplication::translate("MessageBox", text); }

struct BoxStyle {
    Qt::TextFormat format = Qt::RichText;
    // A question that deletes: No is the default and Escape answers No.
    bool destructive = false;
};

QMessageBox::StandardButton runBox(QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons,
                                   bool titleHeader, const MessageBoxLabelSink& outLabel, BoxStyle style);

}  // namespace

QString plainToRichText(const QString& text)
{
    QString out = text.toHtmlEscaped();
    out.replace(QLatin1Char('\n'), QLatin1String("<br/>"));
    return out;
}

QMessageBox::StandardButton showMessageBox(QMessageBox::Icon icon, const QString& text,
                                           QMessageBox::StandardButtons buttons, bool titleHeader,
                                           const MessageBoxLabelSink& outLabel)
{
    return runBox(icon, text, buttons, titleHeader, outLabel, BoxStyle{});
}

namespace {

QMessageBox::StandardButton runBox(QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons,
                                   bool titleHeader, const MessageBoxLabelSink& outLabel, BoxStyle style)
{
    QString shown = text;
    if (titleHeader)
        shown = QStringLiteral("<nobr><b>") + product::productTitle() + QStringLiteral("</b></nobr><br/><br/>") + shown;

    QMessageBox box(icon, QCoreApplication::translate("product", product::kName), shown, QMessageBox::NoButton,
                    nullptr);
    if (icon == QMessageBox::Information) {
        QPixmap pixmap(QStringLiteral(":/tipsutil_res/icon_info.png"));
        if (!pixmap.isNull())
            box.setIconPixmap(pixmap.scaledToHeight(32, Qt::FastTransformation));
    }
    box.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    box.setStyleSheet(styleSheetText());

    static const struct {
        QMessageBox::StandardButton button;
        const char* label;
    } kOrder[] = {
        {QMessageBox::Yes, QT_TRANSLATE_NOOP("MessageBox", "Yes")},
        {QMessageBox::No, QT_TRANSLATE_NOOP("MessageBox", "No")},
        {QMessageBox::Ok, QT_TRANSLATE_NOOP("MessageBox", "OK")},
        {QMessageBox::Cancel, QT_TRANSLATE_NOOP("MessageBox", "Cancel")},
        {QMessageBox::Abort, QT_TRANSLATE_NOOP("MessageBox", "Abort")},
        {QMessageBox::Retry, QT_TRANSLATE_NOOP("MessageBox", "Retry")},
        {QMessageBox::Ignore, QT_TRANSLATE_NOOP("MessageBox", "Ignore")},
    };
    for (const auto& entry : kOrder) {
        if (buttons.testFlag(entry.button)) {
            QPushButton* b = box.addButton(entry.button);
            b->setText(tr(entry.label));
        }
    }
    if (style.destructive) {
        const QMessageBox::StandardButton no = buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Cancel;
        if (auto* b = qobject_cast<QPushButton*>(box.button(no))) {
            box.setDefaultButton(b);
            box.setEscapeButton(b);
        }
    }

    if (outLabel) {
        QLabel* found = nullptr;
        if (QLayout* layout = box.layout()) {
            for (int i = 0; i < layout->count() && !found; ++i) {
                QWidget* w = layout->itemAt(i)->widget();
                if (w && w->objectName() == QLatin1String("qt_msgbox_label"))
                    found = qobject_cast<QLabel*>(w);
            }
        }
        outLabel(found);
    }

    box.setTextFormat(style.format);
    new WinMovable(&box, !style.destructive);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    return clicked ? box.standardButton(clicked) : QMessageBox::NoButton;
}

}  // namespace

void informationBox(const QString& text)
{
    runBox(QMessageBox::Information, text, QMessageBox::Ok, false, {}, BoxStyle{Qt::PlainText, false});
}

void warningBox(const QString& text)
{
    runBox(QMessageBox::Warning, text, QMessageBox::Ok, false, {}, BoxStyle{Qt::PlainText, false});
}

bool questionBox(const QString& text)
{
    return runBox(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No, false, {},
                  BoxStyle{Qt::PlainText, true})
           == QMessageBox::Yes;
}

QString errorBoxText(const QString& text)
{
    const QString support = product::supportAddress();
    // Without a support address there is nobody to name; no placeholder.
    if (support.isEmpty())
        return tr("An Error Occurred. <br/><br/>%1").arg(plainToRichText(text));
    return tr("An Error Occurred. <br/><br/>%1<br/><br/> Or you can contact ").arg(plainToRichText(text))
           + support.toHtmlEscaped() + tr(" for help.");
}

void errorBox(const QString& text)
{
    showMessageBox(QMessageBox::Critical, errorBoxText(text), QMessageBox::Ok, true);
    if (const auto& handler = errorReportHandler())
        handler(text);
}

void setErrorReportHandler(std::function<void(const QString&)> handler)
{
    errorReportHandler() = std::move(handler);
}
