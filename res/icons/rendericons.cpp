// Renders the program's icons and the bubble view's images from the SVG
// drawings in this folder to the PNG and JPEG files that the program embeds
// (res/icons/png/) or installs beside itself (wabb/), and cuts the printed
// bubbles' frames into their nine tiles (wabb/bb1_01.png ...). Run by hand after an
// SVG changed; the results are committed. From the project root:
//   g++ -std=c++20 -fPIC res/icons/rendericons.cpp -o /tmp/rendericons \
//       $(pkg-config --cflags --libs Qt6Gui Qt6Svg) && \
//   QT_QPA_PLATFORM=offscreen /tmp/rendericons .
// With a second argument it also writes a contact sheet of every image there.
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>

#include <cstdio>

namespace {

struct Entry {
    const char* svg;     // below res/icons
    const char* output;  // below the project root
    int width;
    int height;
    bool round;          // cut to a circle (QtSvg draws no clip paths)
};

// Tool bar and menu icons at the tool bar's 52 pixels; tree and list icons
// at the 18 pixels the models scale them to; chat pictures at 64, shown at
// 32 in the header strip.
const Entry kEntries[] = {
    {"backup.svg", "res/icons/png/backup.png", 52, 52, false},
    {"i2i.svg", "res/icons/png/i2i.png", 52, 52, false},
    {"db2i.svg", "res/icons/png/db2i.png", 52, 52, false},
    {"extract_media.svg", "res/icons/png/extract_media.png", 52, 52, false},
    {"export.svg", "res/icons/png/export.png", 52, 52, false},
    {"print.svg", "res/icons/png/print.png", 52, 52, false},
    {"delete.svg", "res/icons/png/delete.png", 52, 52, false},
    {"load_itunes.svg", "res/icons/png/load_itunes.png", 52, 52, false},
    {"to_itunes.svg", "res/icons/png/to_itunes.png", 52, 52, false},
    {"open_db_folder.svg", "res/icons/png/open_db_folder.png", 52, 52, false},
    {"exit.svg", "res/icons/png/exit.png", 52, 52, false},
    {"help.svg", "res/icons/png/help.png", 52, 52, false},
    {"home.svg", "res/icons/png/home.png", 52, 52, false},
    {"unmount.svg", "res/icons/png/unmount.png", 52, 52, false},
    {"search.svg", "res/icons/png/search.png", 16, 16, false},
    {"devices.svg", "res/icons/png/devices.png", 18, 18, false},
    {"databases.svg", "res/icons/png/databases.png", 18, 18, false},
    {"iphone.svg", "res/icons/png/iphone.png", 18, 18, false},
    {"database.svg", "res/icons/png/database.png", 18, 18, false},
    {"icon_sms-sent.svg", "res/icons/png/icon_sms-sent.png", 18, 18, false},
    {"icon_sms-receive.svg", "res/icons/png/icon_sms-receive.png", 18, 18, false},
    {"broadcast_flag.svg", "res/icons/png/broadcast_flag.png", 18, 18, false},
    {"contact.svg", "res/icons/png/contact.png", 64, 64, true},
    {"group.svg", "res/icons/png/group.png", 64, 64, true},
    {"broadcast.svg", "res/icons/png/broadcast.png", 64, 64, true},
    // Pictures inside the device and transfer message boxes.
    {"illustrations/trust_iphone.svg", "res/icons/png/trust_iphone.png", 280, 260, false},
    {"illustrations/kill_wa.svg", "res/icons/png/kill_wa.png", 280, 260, false},
    {"illustrations/close_icloudbk.svg", "res/icons/png/close_icloudbk.jpg", 280, 260, false},
    {"illustrations/skip-transfer-app-data.svg", "res/icons/png/skip-transfer-app-data.jpg", 280, 260, false},
    {"bubble/voice.svg", "wabb/voice.png", 64, 64, false},
    {"bubble/contact.svg", "wabb/contact.png", 128, 128, false},
    {"bubble/empty_photo.svg", "wabb/empty_photo.jpg", 200, 150, false},
};

// A printed bubble's frame, drawn whole and cut into nine tiles along its
// borders: "<prefix>_01.png" (top left) to "<prefix>_09.png" (bottom right),
// row by row. The middle and the edges are stretched when a bubble is drawn,
// so within them every row (left and right edges) or column (top and bottom
// edges) must be the same.
struct Frame {
    const char* svg;
    const char* prefix;  // below the project root
    int width;
    int height;
    int top, right, bottom, left;  // the border table of the bubble kind
};

const Frame kFrames[] = {
    {"bubble/r.svg", "wabb/r", 30, 28, 5, 7, 7, 7},
    {"bubble/bb1.svg", "wabb/bb1", 45, 41, 6, 7, 19, 22},
    {"bubble/bb2.svg", "wabb/bb2", 43, 42, 7, 19, 19, 8},
};

QImage render(const QString& svgPath, int width, int height, bool round, bool* ok)
{
    QSvgRenderer svg(svgPath);
    *ok = svg.isValid();
    QImage img(width, height, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    if (!*ok)
        return img;
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    svg.render(&p, QRectF(0, 0, width, height));
    if (round) {
        QImage mask(width, height, QImage::Format_ARGB32_Premultiplied);
        mask.fill(Qt::transparent);
        QPainter m(&mask);
        m.setRenderHint(QPainter::Antialiasing);
        m.setPen(Qt::NoPen);
        m.setBrush(Qt::black);
        m.drawEllipse(QRectF(0.5, 0.5, width - 1.0, height - 1.0));
        m.end();
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        p.drawImage(0, 0, mask);
    }
    return img;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: rendericons <project root> [contact sheet.png]\n");
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    QList<QImage> sheet;
    int failures = 0;
    for (const Entry& e : kEntries) {
        bool ok = false;
        const QString svgPath = root.filePath(QStringLiteral("res/icons/") + QLatin1String(e.svg));
        QImage img = render(svgPath, e.width, e.height, e.round, &ok);
        const QString out = root.filePath(QLatin1String(e.output));
        QDir().mkpath(QFileInfo(out).absolutePath());
        const bool jpeg = out.endsWith(QLatin1String(".jpg"));
        if (jpeg)
            img = img.convertToFormat(QImage::Format_RGB32);
        if (!ok || !img.save(out, jpeg ? "JPEG" : "PNG", jpeg ? 92 : -1)) {
            std::fprintf(stderr, "failed: %s -> %s\n", e.svg, e.output);
            ++failures;
            continue;
        }
        sheet << img;
    }
    for (const Frame& f : kFrames) {
        bool ok = false;
        const QImage whole = render(root.filePath(QStringLiteral("res/icons/") + QLatin1String(f.svg)), f.width,
                                    f.height, false, &ok);
        const int xs[] = {0, f.left, f.width - f.right, f.width};
        const int ys[] = {0, f.top, f.height - f.bottom, f.height};
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 3; ++col) {
                const QRect cell(xs[col], ys[row], xs[col + 1] - xs[col], ys[row + 1] - ys[row]);
                const QString out = root.filePath(QStringLiteral("%1_%2.png")
                                                      .arg(QLatin1String(f.prefix))
                                                      .arg(row * 3 + col + 1, 2, 10, QLatin1Char('0')));
                if (!ok || cell.isEmpty() || !whole.copy(cell).save(out, "PNG")) {
                    std::fprintf(stderr, "failed: %s -> %s\n", f.svg, qPrintable(out));
                    ++failures;
                }
            }
        }
        sheet << whole;
    }
    if (argc > 2) {
        // Every image at its own size and at the sizes it is shown.
        QImage page(1200, 720, QImage::Format_RGB32);
        page.fill(QColor("#EFE9DF"));
        QPainter p(&page);
        int x = 10, y = 10, rowHeight = 0;
        for (const QImage& img : sheet) {
            if (x + img.width() > page.width() - 10) {
                x = 10;
                y += rowHeight + 10;
                rowHeight = 0;
            }
            p.drawImage(x, y, img);
            x += img.width() + 10;
            rowHeight = std::max(rowHeight, img.height());
        }
        y += rowHeight + 20;
        x = 10;
        for (const QImage& img : sheet) {
            p.drawImage(QRect(x, y, 16, 16), img.scaledToWidth(16, Qt::SmoothTransformation));
            x += 24;
        }
        p.end();
        page.save(QString::fromLocal8Bit(argv[2]));
    }
    return failures == 0 ? 0 : 1;
}
