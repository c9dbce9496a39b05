// SPDX-License-Identifier: MIT
// The log view's reading rules against a file that a test writes as the service would.

#include "logreader.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace
{
// An edit control's behaviour: limited length, caret at the end, refuses what does not fit.
class CTextBox : public ILogTextTarget
{
public:
    explicit CTextBox(size_t limit = 0x4FFFFF) : m_limit(limit) {}
    size_t GetTextLength() override { return text.size(); }
    size_t GetTextLimit() override { return m_limit; }
    void MoveCaretToEnd() override {}
    void Empty() override
    {
        text.clear();
        ++empties;
    }
    void Insert(const std::u16string& batch) override
    {
        if (text.size() + batch.size() <= m_limit)
            text += batch;
        ++inserts;
    }
    void ReplaceAll(const std::u16string& batch) override { text = batch; }

    std::u16string text;
    int inserts = 0;
    int empties = 0;

private:
    size_t m_limit;
};

class LogReaderTest : public testing::Test
{
protected:
    LogReaderTest()
    {
        char name[] = "/tmp/zelbin-log-XXXXXX";
        const int fd = ::mkstemp(name);
        ::close(fd);
        path = name;
        wide.assign(path.begin(), path.end());
    }
    ~LogReaderTest() override { std::remove(path.c_str()); }
    void Append(const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
    }
    void Truncate(const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }

    std::string path;
    std::u16string wide;
    CLogFollower follower;
    CTextBox box;
};

TEST_F(LogReaderTest, LinesArriveWholePartlyAndInTheirLineEndings)
{
    const std::string longLine =
        std::string(150, 'a') + std::string(50, '\0') + "\xC3\xA9\xE2\x82\xAC";
    const struct
    {
        const char* name;
        std::string append;
        std::u16string shown; // the whole text after this step
    } steps[] = {
        {"first line", "one\r\n", u"one\r\n"},
        {"partly written", "tw", u"one\r\ntw"},
        {"its rest", "o\r\n", u"one\r\ntwo\r\n"},
        {"several CRs", "three\r\r\r\n", u"one\r\ntwo\r\nthree\r\n"},
        {"LF only runs together", "x\ny\n", u"one\r\ntwo\r\nthree\r\nxy"},
        {"a character split by the writer", "\r\n\xE2\x82", u"one\r\ntwo\r\nthree\r\nxy\r\n"},
        {"its last byte", "\xAC!\r\n", u"one\r\ntwo\r\nthree\r\nxy\r\n\u20ac!\r\n"},
        {"bytes that are no UTF-8", "\xFF\xFE\r\n",
         u"one\r\ntwo\r\nthree\r\nxy\r\n\u20ac!\r\n\uFFFD\uFFFD\r\n"},
    };
    follower.SetLogFile(wide, box);
    for (const auto& step : steps)
    {
        Append(step.append);
        follower.ReadNewLogData(box);
        EXPECT_EQ(box.text, step.shown) << step.name;
    }
    box.text.clear();
    Append(longLine + "\r\n");
    follower.ReadNewLogData(box);
    std::u16string expected(150, u'a');
    expected += std::u16string(50, u'\0') + u"\u00e9\u20ac\r\n";
    EXPECT_EQ(box.text, expected); // 205 bytes of mixed text on one line
}

TEST_F(LogReaderTest, OneInsertPerNoticeAndASamePathReadsNothing)
{
    Append("a\r\nb\r\nc\r\n");
    follower.SetLogFile(wide, box);
    EXPECT_EQ(box.inserts, 1);
    Append("d\r\n");
    follower.SetLogFile(wide, box); // the same path: no reopen, no read
    EXPECT_EQ(box.inserts, 1);
    follower.ReadNewLogData(box);
    EXPECT_EQ(box.inserts, 2);
    EXPECT_EQ(box.text, u"a\r\nb\r\nc\r\nd\r\n");
}

TEST_F(LogReaderTest, AFileClearedAndWrittenAgainStartsTheViewOver)
{
    // However long the new text is: shorter than what was read, or longer (no notice came
    // between the clearing and the new lines).
    const char* rewrites[] = {"new 1\r\nnew 2", "new 1\r\nnew 2 is a much longer line than before"};
    for (const char* rewrite : rewrites)
    {
        Truncate("old 1\r\nold 2\r\nold 3\r\n");
        CLogFollower fresh;
        CTextBox text;
        fresh.SetLogFile(wide, text);
        text.text += u"typed by the user";
        Truncate(rewrite);
        fresh.ReadNewLogData(text);
        const std::string expected = rewrite;
        EXPECT_EQ(text.text, std::u16string(expected.begin(), expected.end())) << rewrite;
        EXPECT_EQ(text.empties, 1) << rewrite;
        Append("\r\n");
        fresh.ReadNewLogData(text);
        EXPECT_EQ(text.text, std::u16string(expected.begin(), expected.end()) + u"\r\n");
    }
}

TEST_F(LogReaderTest, TheTextLimitDiscardsTheOldestText)
{
    CTextBox small(20);
    follower.SetLogFile(wide, small);
    Append("0123456789\r\n"); // 12 characters shown
    follower.ReadNewLogData(small);
    EXPECT_EQ(small.text, u"0123456789\r\n");
    Append("abcdefgh\r\n"); // 10 more would pass the limit: the control refuses, the batch replaces
    follower.ReadNewLogData(small);
    EXPECT_EQ(small.text, u"abcdefgh\r\n");
    // A batch that reaches the limit is dropped with the text, the line that reached it too.
    Append("1234567\r\n2345678\r\n3\r\n4\r\n");
    follower.ReadNewLogData(small);
    EXPECT_EQ(small.text, u"4\r\n");
}

TEST_F(LogReaderTest, AMissingFileShowsNothing)
{
    follower.SetLogFile(u"/nonexistent/zelbin.log", box);
    EXPECT_FALSE(follower.IsLogFileOpen());
    follower.ReadNewLogData(box);
    EXPECT_EQ(box.inserts, 0);
}

TEST_F(LogReaderTest, AFileRemovedWhileFollowedKeepsWhatWasShown)
{
    Append("kept\r\n");
    follower.SetLogFile(wide, box);
    std::remove(path.c_str());
    follower.ReadNewLogData(box); // the open file is still readable; nothing new in it
    EXPECT_EQ(box.text, u"kept\r\n");
}
} // namespace
