// SPDX-License-Identifier: MIT
// The About sheet: the program's title, description, licence, legal notices and support
// contacts, with its version and build stamp, on up to four pages.
#pragma once

#include <QDialog>
#include <QString>

class QTabWidget;
class QLabel;

// Reads a text file for a page: a name without a directory is taken beside the executable.
// UTF-16 with a byte-order mark, else the locale's encoding. Shows the standard file-error box
// and returns false when the file cannot be opened; nothing is read for an empty name.
bool ReadAboutTextFile(const QString& name, QString& text, QWidget* pErrorParent);
// The largest bold height from 12 down to 4 at which the title is narrower than iWidth pixels
// (4 when none is).
int FitTitleFontHeight(const QString& title, int iWidth, const QFont& base);
// A text wrapped for a terminal as paragraphs: the lines of each paragraph joined with a blank,
// paragraphs apart by an empty line, so that a page can wrap it once at its own width.
QString ReflowParagraphs(const QString& text);
// "Version %s %s %s " with the file version, the build time and the build date.
QString VersionLine();

class CAboutSheet : public QDialog
{
    Q_OBJECT
public:
    CAboutSheet(const char16_t* pszCaption, QWidget* pParent, int iFirstPage,
                const char16_t* pszTitle, const char16_t* pszDescription1,
                const char16_t* pszDescription2, const char16_t* pszLicenseFile,
                int iLanguageCode = 0, const char16_t* pszLegalFile = nullptr);

    QTabWidget* GetTabs() const { return m_pTabs; }

private:
    QWidget* MakeTitledPage(const QString& name);

    QString m_title;
    QTabWidget* m_pTabs;
    int m_iLanguageCode;
};
