#include "search/receive_path.h"
#include "text/gbk.h"

#include <gtest/gtest.h>

using namespace yuming;

namespace {

QString feedAll(std::initializer_list<QByteArray> blocks, ReceivePath::Feed* last = nullptr) {
    ReceivePath path;
    ReceivePath::Feed f = ReceivePath::Feed::More;
    for (const QByteArray& b : blocks) f = path.feed(b);
    if (last) *last = f;
    return path.RecvText();
}

TEST(ReceivePath, HeadersStayAndChunkFramingGoes) {
    ReceivePath::Feed last{};
    const QString text = feedAll({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4;ext=1\r\n<htm\r\n",
                                  "3\r\nl>x\r\n7\r\n</html>\r\n0\r\n\r\n"},
                                 &last);
    EXPECT_EQ(text, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n<html>x</html>");
    EXPECT_EQ(last, ReceivePath::Feed::Done);
}

TEST(ReceivePath, OnlyTheHeaderBlockDecidesAboutChunking) {
    // A body that merely mentions the header must not be unframed.
    const QByteArray answer = "HTTP/1.1 200 OK\r\nX: y\r\n\r\n5\r\nTransfer-Encoding: chunked\r\n</html>";
    EXPECT_EQ(feedAll({answer}), QString::fromLatin1(answer));
}

TEST(ReceivePath, BrokenFramingAndOddAnswersAreKeptAsTheyCame) {
    struct Case {
        QByteArray answer, text;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz;a\r\n<html></html>",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz;a\r\n<html></html>"},
        {"<html>no headers at all</html>", "<html>no headers at all</html>"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: CHUNKED\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: CHUNKED\r\n\r\nabc"},
    };
    for (const Case& c : cases) {
        // Whole and byte by byte alike.
        EXPECT_EQ(feedAll({c.answer}), QString::fromLatin1(c.text));
        ReceivePath path;
        for (char ch : c.answer) path.feed(QByteArray(1, ch));
        EXPECT_EQ(path.RecvText(), QString::fromLatin1(c.text));
    }
}

TEST(ReceivePath, EndTagIsFoundAcrossBlocksButNotInCapitals) {
    ReceivePath path;
    EXPECT_EQ(path.feed("<html>x</ht"), ReceivePath::Feed::More);
    EXPECT_EQ(path.feed("ml>"), ReceivePath::Feed::Done);
    ReceivePath upper;
    EXPECT_EQ(upper.feed("<HTML>x</HTML>"), ReceivePath::Feed::More);
}

TEST(ReceivePath, StopsGrowingPastItsBound) {
    ReceivePath path(100);
    EXPECT_EQ(path.feed(QByteArray(60, 'x')), ReceivePath::Feed::More);
    EXPECT_EQ(path.feed(QByteArray(60, 'x')), ReceivePath::Feed::TooLarge);
    EXPECT_EQ(path.RecvText().size(), 60);
}

TEST(ReceivePath, SplitCharactersDecodeWhole) {
    const QByteArray gbk = toGbk(QStringLiteral("<html>预订</html>"));
    ReceivePath path;
    for (char ch : gbk) path.feed(QByteArray(1, ch));
    EXPECT_EQ(path.RecvText(), "<html>预订</html>");
    EXPECT_TRUE(path.RecvDone());
}

} // namespace
