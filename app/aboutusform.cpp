#include "app/aboutusform.h"

#include "app/stylesheet.h"
#include "app/winmovable.h"
#include "base/productinfo.h"

#include <QCoreApplication>
#include <QDate>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLabel>
#include <QPushButton>

AboutUsForm::AboutUsForm(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("AboutUsForm"));
    resize(400, 194);
    setFixedSize(400, 194);

    lbTitle = new QLabel(tr("About"), this);
    lbTitle->setObjectName(QStringLiteral("lbTitle"));
    lbTitle->setGeometry(20, 10, 121, 16);

    picApp = new QGraphicsView(this);
    picApp->setObjectName(QStringLiteral("picApp"));
    picApp->setGeometry(20, 40, 64, 64);
    picApp->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    picApp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    picApp->setStyleSheet(QStringLiteral("background:Transparent;border:0;"));
    auto* scene = new QGraphicsScene(picApp);
    QPixmap picture(QStringLiteral(":main"));
    if (picture.isNull())
        picture.load(QStringLiteral(":/quillometry.png"));
    if (!picture.isNull())
        scene->addPixmap(picture.scaledToHeight(64, Qt::SmoothTransformation));
    picApp->setScene(scene);

    lbProduct = new QLabel(this);
    lbProduct->setObjectName(QStringLiteral("lbProduct"));
    lbProduct->setGeometry(100, 48, 281, 31);
    lbProduct->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbProduct->setWordWrap(true);
    lbProduct->setText(QStringLiteral("%1 v%2").arg(QCoreApplication::translate("product", product::kName),
                                                    QString::fromLatin1(product::kVersion)));

    lbCopyRight = new QLabel(this);
    lbCopyRight->setObjectName(QStringLiteral("lbCopyRight"));
    lbCopyRight->setGeometry(100, 80, 221, 16);
    lbCopyRight->setText(tr("Copyright \u00A9 %1 Quillometry")
                             .arg(QDate::currentDate().year()));

    lbHomePage = new QLabel(this);
    lbHomePage->setObjectName(QStringLiteral("lbHomePage"));
    lbHomePage->setGeometry(20, 120, 201, 16);
    const QString host = product::vendorHost();
    if (host.isEmpty()) {
        // No vendor web server in this build: there is no page to point to.
        lbHomePage->hide();
    } else {
        const QString address = QStringLiteral("http://") + host + QStringLiteral("/");
        lbHomePage->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(address.toHtmlEscaped()));
        lbHomePage->setTextFormat(Qt::RichText);
        lbHomePage->setOpenExternalLinks(true);
    }

    btnOK = new QPushButton(tr("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(160, 160, 75, 23);
    connect(btnOK, &QPushButton::pressed, this, &QDialog::accept);

    setStyleSheet(styleSheetText());
    new WinMovable(this);
}
