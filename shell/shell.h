// Small helpers the windows lean on: file tests, path joining, deletion, colouring and skinning,
// the application title, the hand cursor, the home page, and the start-up provider probe.
#pragma once

#include <QCursor>
#include <QFont>
#include <QIcon>
#include <QRect>
#include <QString>
#include <functional>
#include <optional>

class QLabel;
class QWidget;

namespace shell {

constexpr const char* kProductName = "Tabulonix";

// The folder of the program (where HAND-M.CUR, x/o.cjs and Samples/ lie). Tests may point it
// elsewhere.
QString ProgramFolder();
void SetProgramFolderForTesting(const QString& folder);
// Program folder joined with a relative name written with backslashes ("\\HAND-M.CUR"). A file
// missing there is looked for in the installed data folder (../share/tabulonix beside the
// program's folder, then /usr/share/tabulonix); missing everywhere, the program folder's path.
QString ProgramFile(const QString& relative);

// Window layout: twips to pixels (15 twips a pixel at 96 dpi, scaled by the screen's logical dpi),
// and the windows' bold Arial (Liberation Sans where Arial itself is not installed).
int TwipsToPixels(int twips);
QRect TwipsRect(int left, int top, int width, int height);
QFont BoldArial(double points);
// Widens a caption label to its whole text with the font it has; a control placed beside it that
// the wider label would reach moves right, keeping its right edge.
void FitCaption(QLabel* label, QWidget* beside = nullptr);

// The icon every window of the application carries: a small table with a header row.
QIcon ApplicationIcon();

bool FileExists(const QString& path);
QString AddBackslash(const QString& path);  // adds the platform separator unless one ends it
void RemoveFile(const QString& path);       // read-only files too; never reports a failure

void ApplyFaceColor(QWidget* window);
void ApplySkin(QWidget* mainWindow);
void SetAppTitle(const QString& productName = kProductName);
QString AppTitle();

// The custom hover pointer loaded from HAND-M.CUR, if the file exists and loads.
std::optional<QCursor> HandCursor();
// Installs the hover rule on a window: its push buttons show the hand pointer, the background and
// frames the default one, and nothing changes while the busy pointer is up.
void InstallHoverPointer(QWidget* window);

void VisitHomePage();
void SetRandomSourceForTesting(std::function<int()> oneToHundred);  // nullptr restores the real one

void ShowHelp(QWidget* parent);

// The provider probe: checks once that the engine can work here (its text converters). Returns
// false on any failure, after the provider message where the failure is "provider not found".
struct ProbeFailure {
  int number = 0;
  QString description;
};
bool CheckProvider();
void SetProviderProbeForTesting(std::function<std::optional<ProbeFailure>()> probe);  // nullptr: real

}  // namespace shell
