#include "base/fileutil.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

void touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

}  // namespace

TEST(FileUtil, PercentEncodedFileName)
{
    const std::pair<QString, QString> cases[] = {
        {"COM1", "%43%4F%4D%31"},
        {"con", "%63%6F%6E"},
        {"Clock$", "%43%6C%6F%63%6B%24"},
        {"LPT2", "LPT2"},
        {"COM0", "COM0"},
        {"com1.txt", "com1.txt"},
        {"100% done.jpg", "100%25 done.jpg"},
        {u("caf\xc3\xa9.png"), "caf%C3%A9.png"},
        {" `~!@#$^&()-=_+[]{};',.", " `~!@#$^&()-=_+[]{};',."},
        {"a/b\\c:d*e?f\"g<h>i|j", "a%2Fb%5Cc%3Ad%2Ae%3Ff%22g%3Ch%3Ei%7Cj"},
        {u("\xf0\x9f\x98\x80"), "%F0%9F%98%80"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(percentEncodedFileName(in), out) << in.toStdString();
}

TEST(FileUtil, EscapedFileName)
{
    const std::pair<QString, QString> cases[] = {
        {"Who?", "Who%3f"},
        {"Tom & Jerry", "Tom & Jerry"},
        {"nul", "%6e%75%6c"},
        {"NUL", "%4e%55%4c"},
        {"a/b:c", "a%2fb%3ac"},
        {"50%\\*\"<>|", "50%25%5c%2a%22%3c%3e%7c"},
        {"line\nfeed\rtab\t", "line%0afeed%0dtab%09"},
        {u("\xc3\x89milie \xe6\x9d\x8e"), u("\xc3\x89milie \xe6\x9d\x8e")},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(escapedFileName(in), out) << in.toStdString();
}

TEST(FileUtil, DecomposedText)
{
    const std::pair<QString, QString> cases[] = {
        {u("\xc3\xa9"), u("e\xcc\x81")},                                        // é
        {u("\xc3\x80"), u("A\xcc\x80")},                                        // U+00C0
        {QString(QChar(0x1F02)), QString::fromUtf16(u"\u03B1\u0313\u0300")},
        {QString(QChar(0x1E69)), QString::fromUtf16(u"s\u0323\u0307")},
        {QString(QChar(0xFB4E)), QString::fromUtf16(u"\u05E4\u05BF")},     // last of the range
        {QString(QChar(0xFB4F)), QString(QChar(0xFB4F))},                     // compatibility only
        {QString(QChar(0xAC00)), QString(QChar(0xAC00))},                      // Hangul stays
        {u("\xc2\xbf"), u("\xc2\xbf")},                                         // U+00BF, below the range
        {u("\xf0\x9f\x98\x80 plain"), u("\xf0\x9f\x98\x80 plain")},             // a surrogate pair
        {u("Jos\xc3\xa9.jpg"), u("Jose\xcc\x81.jpg")},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(decomposedText(in), out) << in.toStdString();
}

TEST(FileUtil, UniqueFilePath)
{
    QTemporaryDir tmp;
    const QString d = tmp.path() + "/";
    touch(d + "chat.2020.txt");
    touch(d + "chat(1).txt");
    touch(d + "notes");
    touch(d + "a.b");
    QFile::link(d + "nowhere", d + "dangling.txt");

    const std::pair<QString, QString> cases[] = {
        {d + "fresh.txt", d + "fresh.txt"},
        {d + "chat.2020.txt", d + "chat(2).txt"},
        {d + "notes", d + "notes(1)"},
        {d + "a.b", d + "a(1).b"},
        {d + "dangling.txt", d + "dangling(1).txt"},  // a dangling link is taken
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(uniqueFilePath(in), out) << in.toStdString();
}

TEST(FileUtil, RemoveFolderTreeNeverFollowsLinks)
{
    QTemporaryDir tmp;
    const QString outside = tmp.filePath("outside");
    touch(outside + "/precious.txt");

    const QString tree = tmp.filePath("tree");
    touch(tree + "/a.txt");
    touch(tree + "/sub/deeper/b.txt");
    ASSERT_TRUE(QFile::link(outside, tree + "/sub/link-to-folder"));
    ASSERT_TRUE(QFile::link(outside + "/precious.txt", tree + "/link-to-file"));
    ASSERT_TRUE(QFile::link(tmp.filePath("gone"), tree + "/dangling"));
    removeFolderTree(tree);
    EXPECT_FALSE(QFileInfo::exists(tree));
    EXPECT_TRUE(QFileInfo::exists(outside + "/precious.txt"));

    // The folder handed in is itself a link: only the link goes.
    const QString link = tmp.filePath("folder-link");
    ASSERT_TRUE(QFile::link(outside, link));
    removeFolderTree(link);
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(outside + "/precious.txt"));

    // Hidden entries are not listed, so their folder stays.
    const QString hidden = tmp.filePath("hidden");
    touch(hidden + "/visible.txt");
    touch(hidden + "/.secret");
    removeFolderTree(hidden);
    EXPECT_TRUE(QFileInfo::exists(hidden + "/.secret"));
    EXPECT_FALSE(QFileInfo::exists(hidden + "/visible.txt"));

    removeFolderTree(tmp.filePath("missing"));  // nothing to do
}

TEST(FileUtil, Md5HexLower)
{
    EXPECT_EQ(md5HexLower(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5HexLower("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5HexLower(u("\xc3\xa9")), "66ddcd97cfdeabb2f6fb8a999b4bc76f");  // the UTF-8 bytes
}
