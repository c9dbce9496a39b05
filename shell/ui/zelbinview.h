// SPDX-License-Identifier: MIT
// The log view: the service's log file shown as it grows, in an editable plain-text control
// whose length is limited like an edit control's; and the document around it, which holds only
// the modified flag and saves, loads and prints the view's text.
#pragma once

#include "logreader.h"

#include <QPlainTextEdit>
#include <memory>

class QPrinter;
class QTextDocument;

class CZelbinView : public QPlainTextEdit, public ILogTextTarget
{
    Q_OBJECT
public:
    static constexpr size_t DEFAULT_TEXT_LIMIT = 0xFFFFF;
    static constexpr size_t RAISED_TEXT_LIMIT = 0x4FFFFF;

    explicit CZelbinView(QWidget* pParent = nullptr);

    // The frame hands the path over once; a path equal to the current one changes nothing.
    void SetLogFile(const std::u16string& path);
    void ReadNewLogData();
    // Runs when the view is first shown with its document: raises the text limit, reopens the
    // log file and reads it.
    void OnInitialUpdate();
    bool IsLogFileOpen() const { return m_follower.IsLogFileOpen(); }
    bool IsFollowingAStaleFile() const { return m_follower.IsFollowingAStaleFile(); }
    // Why the service's log file is not shown; empty when it is.
    QString GetLogError() const { return QString::fromStdString(m_follower.GetError()); }
    // A copy of the text for the printer, wrapped at the page's width: the screen shows long
    // lines unwrapped, paper cannot.
    std::unique_ptr<QTextDocument> CreatePrintDocument() const;
    void PrintWrapped(QPrinter* pPrinter) const;
    void SetTextLimit(size_t iLimit) { m_iTextLimit = iLimit; }

    // ILogTextTarget, counted in characters as the control holds them.
    size_t GetTextLength() override;
    size_t GetTextLimit() override { return m_iTextLimit; }
    void MoveCaretToEnd() override;
    void Empty() override;
    void Insert(const std::u16string& batch) override;
    void ReplaceAll(const std::u16string& batch) override;

private:
    CLogFollower m_follower;
    size_t m_iTextLimit = DEFAULT_TEXT_LIMIT;
};

// The document: the view's text and its modified flag.
class CZelbinDoc
{
public:
    explicit CZelbinDoc(CZelbinView* pView) : m_pView(pView) {}
    bool IsModified() const;
    void SetModifiedFlag(bool bModified);
    // Saves the text shown, edits included, as UTF-8 with CR LF line ends: the log file's own
    // format, so a saved log reads like the service's. All or nothing: a failed save leaves the
    // file as it was and says why in pError. A saved text takes the file's name.
    bool Save(const QString& path, QString* pError = nullptr);
    // Replaces the text with the file's (UTF-8, any line ends) and takes its name.
    bool Load(const QString& path);
    // New: an empty text without a name.
    void New();
    // The file the text was last saved to or opened from; empty before.
    const QString& GetPathName() const { return m_path; }
    // "name - Zelbin", "Untitled - Zelbin" without a name.
    QString GetWindowTitle() const;

private:
    CZelbinView* m_pView;
    QString m_path;
};
