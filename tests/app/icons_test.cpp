// Every image the window names by resource path is embedded, loads, and has
// the size its place needs.
#include <QImage>
#include <QString>

#include <gtest/gtest.h>

TEST(Icons, EveryNamedResourceImageLoadsAtItsSize)
{
    struct Case { const char* path; int size; };
    const Case cases[] = {
        {":res/backup.png", 52}, {":res/i2i.png", 52}, {":res/db2i.png", 52},
        {":res/extract_media.png", 52}, {":res/export.png", 52}, {":res/print.png", 52},
        {":res/delete.png", 52}, {":res/load_itunes.png", 52}, {":res/to_itunes.png", 52},
        {":res/open_db_folder.png", 52}, {":res/exit.png", 52}, {":res/help.png", 52},
        {":res/home.png", 52}, {":res/unmount.png", 52}, {":/res/search.png", 16},
        {":res/devices.png", 18}, {":res/databases.png", 18}, {":res/iphone.png", 18},
        {":res/database.png", 18}, {":/res/icon_sms-sent.png", 18}, {":/res/icon_sms-receive.png", 18},
        {":res/broadcast_flag.png", 18}, {":res/contact.png", 64}, {":res/group.png", 64},
        {":res/broadcast.png", 64}, {":main", 256},
    };
    for (const Case& c : cases) {
        QImage image(QString::fromLatin1(c.path));
        ASSERT_FALSE(image.isNull()) << c.path;
        EXPECT_EQ(image.width(), c.size) << c.path;
        EXPECT_EQ(image.height(), c.size) << c.path;
        // Drawn with a transparent surround and an opaque middle.
        EXPECT_TRUE(image.hasAlphaChannel()) << c.path;
        EXPECT_GT(image.pixelColor(c.size / 2, c.size / 2).alpha(), 0) << c.path;
    }
    // The pictures inside the device and transfer message boxes.
    for (const char* path : {":res/trust_iphone.png", ":res/kill_wa.png", ":res/close_icloudbk.jpg",
                             ":res/skip-transfer-app-data.jpg"}) {
        QImage image(QString::fromLatin1(path));
        ASSERT_FALSE(image.isNull()) << path;
        EXPECT_EQ(image.size(), QSize(280, 260)) << path;
    }
}
