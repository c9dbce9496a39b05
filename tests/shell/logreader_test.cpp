// SPDX-License-Identifier: MIT
// The log view's reading rules against a file that a test writes as the service would.

#include "logreader.h"
#include "standin.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <vector>

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
    void ReplaceAll(const std::u16string& batch) override
    {
        text = batch;
        ++replaces;
    }
    bool OnReadProgress(uint64_t iDone, uint64_t iTotal) override
    {
        reports.emplace_back(iDone, iTotal);
        return reports.size() != stopAt;
    }

    std::u16string text;
    int inserts = 0;
    int replaces = 0;
    int empties = 0;
    std::vector<std::pair<uint64_t, uint64_t>> reports;
    size_t stopAt = 0; // the progress report answered with "stop"; 0: none

private:
    size_t m_limit;
};

class LogReaderTest : public testing::Test
{
protected:
    LogReaderTest() { Truncate(""); }
    void Append(const std::string& bytes) { WriteText(path, bytes, true); }
    void Truncate(const std::string& bytes) { WriteText(path, bytes); }

    CTempDir dir;
    const std::string path = dir / "zelbin.log";
    const std::u16string wide{path.begin(), path.end()};
    CLogFollower follower;
    CTextBox box;
};

// Runs of CRs, a LF alone, a CR inside a line, NUL bytes and long lines are in zelbinctl's log
// tests, which read through the same follower; here what a notice brings part of.
TEST_F(LogReaderTest, LinesArriveWholePartlyAndInTheirLineEndings)
{
    const struct
    {
        const char* name;
        std::string append;
        std::u16string shown; // the whole text after this step
    } steps[] = {
        {"first line", "one\r\n", u"one\r\n"},
        {"partly written", "tw", u"one\r\ntw"},
        {"its rest", "o\r\n", u"one\r\ntwo\r\n"},
        {"a character split by the writer", "x\xE2\x82", u"one\r\ntwo\r\nx"},
        {"its last byte", "\xAC!\r\n", u"one\r\ntwo\r\nx\u20ac!\r\n"},
        {"bytes that are no UTF-8", "\xFF\xFE\r\n", u"one\r\ntwo\r\nx\u20ac!\r\n\uFFFD\uFFFD\r\n"},
    };
    follower.SetLogFile(wide, box);
    int iInserts = box.inserts;
    for (const auto& step : steps)
    {
        Append(step.append);
        follower.ReadNewLogData(box);
        EXPECT_EQ(box.text, step.shown) << step.name;
        EXPECT_EQ(box.inserts, ++iInserts) << "one insert per notice";
    }
    Append("more\r\n");
    follower.SetLogFile(wide, box); // the same path: no reopen, no read
    EXPECT_EQ(box.inserts, iInserts);
    box.text.clear();
    follower.ReadNewLogData(box);
    EXPECT_EQ(box.text, u"more\r\n");
}

// Cleared and written again, whatever the new length: shorter than what was read, as long
// (the size alone cannot tell), or longer (no notice came between the clearing and the new
// lines). The new text shows once, from the start.
TEST_F(LogReaderTest, AFileClearedAndWrittenAgainStartsTheViewOver)
{
    for (const char* rewrite : {"new 1\r\nnew 2", "new 1\r\nnew 2\r\nnew 3\r\n",
                                "new 1\r\nnew 2 is a much longer line than before"})
    {
        Truncate("old 1\r\nold 2\r\nold 3\r\n");
        CLogFollower fresh;
        CTextBox text;
        fresh.SetLogFile(wide, text);
        EXPECT_EQ(text.inserts, 1); // three lines, one insert
        text.text += u"typed by the user";
        Truncate(rewrite);
        fresh.ReadNewLogData(text);
        fresh.ReadNewLogData(text);
        const std::string expected = rewrite;
        EXPECT_EQ(text.text, std::u16string(expected.begin(), expected.end())) << rewrite;
        EXPECT_EQ(text.empties, 1) << rewrite;
        EXPECT_EQ(text.replaces, 0) << rewrite;
        Append("\r\n");
        fresh.ReadNewLogData(text);
        EXPECT_EQ(text.text, std::u16string(expected.begin(), expected.end()) + u"\r\n");
    }
}

// A notice bringing more than the limit skips to the last point where the limit empties the batch,
// counting what lines add without building them. Whatever the bytes, the result is the plain
// rule's: each line built, the batch emptied at the limit, a full control refusing, then replaced.
TEST_F(LogReaderTest, ASkippedReadShowsWhatThePlainRuleShows)
{
    const std::vector<std::string> kinds = {"plain line\r\n",
                                            "caf\xc3\xa9 \xe2\x82\xac\r\n",
                                            "\xf0\x9f\x98\x80 four bytes\r\n",
                                            "runs of returns\r\r\r\n",
                                            "no return\n",
                                            "bad \xff\xc3 bytes\r\n",
                                            "\r\n",
                                            "\n"};
    std::vector<std::string> lines;
    for (size_t i = 0; i < 400; ++i)
        lines.push_back(std::to_string(i) + " " + kinds[i % kinds.size()]);
    const auto plainRule = [&](const std::u16string& shown, const std::string& added, size_t limit)
    {
        Truncate(added);
        CLogFileReader reader;
        EXPECT_TRUE(reader.Open(path));
        std::u16string batch, line;
        bool bEmptied = false;
        while (reader.ReadLine(line))
        {
            AppendLogLine(line, batch);
            if (batch.size() + 1 >= limit)
            {
                batch.clear();
                bEmptied = true;
            }
        }
        const std::u16string before = bEmptied ? u"" : shown;
        if (before.size() + batch.size() <= limit)
            return before + batch;
        return before.empty() ? before : batch;
    };
    // Up to the limit a line at a time, past it, and many times past it; a first notice leaves
    // nothing or a few lines in the control.
    for (const size_t limit : {size_t{64}, size_t{200}})
        for (const size_t firstLines : {size_t{0}, size_t{2}})
            for (size_t count = firstLines; count <= lines.size(); count += count < 120 ? 1 : 140)
            {
                std::string first, all;
                for (size_t i = 0; i < count; ++i)
                    (i < firstLines ? first : all) += lines[i];
                all = first + all;
                Truncate(first);
                CTextBox box(limit);
                CLogFollower reader;
                reader.SetLogFile(wide, box);
                const std::u16string shown = box.text;
                Append(all.substr(first.size()));
                reader.ReadNewLogData(box);
                EXPECT_EQ(box.text, plainRule(shown, all.substr(first.size()), limit))
                    << "limit " << limit << ", " << count << " lines, " << firstLines << " first";
                EXPECT_LE(box.empties, 1) << count << " lines";
            }
}

// What is not a regular file is refused at once with its reason: the open never waits (a FIFO),
// nothing endless is read (a device); zelbinctl's test of refused log files has a FIFO.
TEST_F(LogReaderTest, OnlyARegularFileIsFollowed)
{
    const struct
    {
        std::string path;
        const char* error;
    } cases[] = {
#if defined(_WIN32)
        {"Z:\\nonexistent\\zelbin.log", "zelbin.log: cannot be opened (error 3)"},
        {"NUL", "NUL: not a regular file; not followed"},
        {std::filesystem::temp_directory_path().string(), ": cannot be opened (error 5)"},
#else
        {"/nonexistent/zelbin.log", "/nonexistent/zelbin.log: No such file or directory"},
        {"/dev/zero", "/dev/zero: not a regular file; not followed"},
        {"/tmp", "/tmp: not a regular file; not followed"},
#endif
    };
    for (const auto& c : cases)
    {
        CLogFollower refused;
        refused.SetLogFile(std::u16string(c.path.begin(), c.path.end()), box);
        EXPECT_FALSE(refused.IsLogFileOpen()) << c.path;
        EXPECT_NE(refused.GetError().find(c.error), std::string::npos) << refused.GetError();
        refused.ReadNewLogData(box);
    }
    EXPECT_EQ(box.inserts, 0);
}

// A line without a line feed is read in pieces of at most 65536 bytes, never whole, so memory stays
// bounded (zelbinctl's test of a line of 200 000 bytes sees the pieces join up to the whole).
TEST_F(LogReaderTest, ALongLineIsReadInBoundedPieces)
{
    Append(std::string(3 * 65536 + 10, 'x') + "\r\nnext\r\n");
    CLogFileReader reader;
    ASSERT_TRUE(reader.Open(path));
    std::u16string piece;
    std::vector<size_t> sizes;
    while (reader.ReadLine(piece))
        sizes.push_back(piece.size());
    EXPECT_EQ(sizes, (std::vector<size_t>{65536, 65536, 65536, 11, 5})); // "next\r"
}

// Reads at an offset past 4 GiB (a sparse file, no disk used) on every system, where a long has
// 32 bits too; a read at the end gives nothing.
TEST_F(LogReaderTest, ReadsAtOffsetsPastFourGibibytes)
{
    std::filesystem::resize_file(path, uint64_t{1} << 32);
    Append("tail\n");
    CLogFileReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.GetFileSize(), (int64_t{1} << 32) + 5);
    char bytes[8] = {};
    EXPECT_EQ(reader.ReadBytesAt(bytes, sizeof bytes, (int64_t{1} << 32) + 1), 4);
    EXPECT_EQ(std::string(bytes, 4), "ail\n");
    EXPECT_EQ(reader.ReadBytesAt(bytes, sizeof bytes, (int64_t{1} << 32) + 5), 0);
}

// A read of more than the text limit reports its progress every 16 MiB, neither more nor less
// often, against the file's size; a report answered with "stop" ends the read and closes the file.
TEST_F(LogReaderTest, ALongReadReportsItsProgressUntilItIsStopped)
{
    std::filesystem::resize_file(path, uint64_t{40} << 20); // sparse: no disk used
    using Reports = std::vector<std::pair<uint64_t, uint64_t>>;
    const struct
    {
        size_t stopAt; // 0: never
        Reports reports;
        bool open;
    } cases[] = {{0, {{16777216, 41943040}, {33554432, 41943040}}, true},
                 {1, {{16777216, 41943040}}, false}};
    for (const auto& c : cases)
    {
        CTextBox box;
        box.stopAt = c.stopAt;
        CLogFollower reader;
        reader.SetLogFile(wide, box);
        EXPECT_EQ(box.reports, c.reports) << c.stopAt;
        EXPECT_EQ(reader.IsLogFileOpen(), c.open) << c.stopAt;
    }
}

// A rotation: the file is renamed and a new, empty one made under the name while the service
// still writes the old one. Those lines show; the view moves to the new file once it is written.
// Removed while followed: what was shown stays until a file is made anew under the name.
TEST_F(LogReaderTest, ARotatedOrRemovedLogIsFollowedUntilANewFileIsWritten)
{
    Append("before\r\n");
    follower.SetLogFile(wide, box);
    ASSERT_EQ(std::rename(path.c_str(), (path + ".1").c_str()), 0);
    Truncate("");
    WriteText(path + ".1", "after the rotation\r\n", true); // the service's open file
    follower.ReadNewLogData(box);
    EXPECT_EQ(box.text, u"before\r\nafter the rotation\r\n");
    EXPECT_TRUE(follower.IsFollowingAStaleFile());
    Append("in the new file\r\n");
    follower.ReadNewLogData(box);
    EXPECT_EQ(box.text, u"in the new file\r\n");
    EXPECT_FALSE(follower.IsFollowingAStaleFile());
    // Wine keeps a removed file under its name while a handle holds it open, and opens it again
    // under that name; Windows removes the name at once.
#if !defined(_WIN32)
    std::remove(path.c_str());
    follower.ReadNewLogData(box);
    EXPECT_EQ(box.text, u"in the new file\r\n");
    Append("back\r\n");
    follower.ReadNewLogData(box);
    EXPECT_EQ(box.text, u"back\r\n");
#endif
}

} // namespace
