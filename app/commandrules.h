// What every command family of the main window shares: which commands this
// build can run, which of the seven state-carrying actions are enabled for a
// node, the scopes a message command applies to, and how command actions
// are made.
#pragma once

#include <QString>

class QAction;
class QIcon;
class QObject;

// Whether the work behind a command is part of this build. A command
// without it stays in the menus, disabled, with a note.
namespace commands {
constexpr bool kHaveTransfer = false;      // iPhone-to-iPhone, database-to-iPhone
constexpr bool kHaveExtract = true;        // attachment extraction
constexpr bool kHaveExportFile = true;     // export to a file
constexpr bool kHavePrint = true;          // printing
constexpr bool kHaveImportiTunes = true;   // loading from an iTunes backup
constexpr bool kHaveWriteiTunes = true;    // writing into an iTunes backup
constexpr bool kHaveDeviceCache = true;    // device cache commands

QString unavailableNote();
// Disables an action for good and says why in its tool tip (by default:
// not part of this version).
void markUnavailable(QAction* action, const QString& why = QString());
// Why the vendor's web pages cannot be opened in a build without its host.
QString noVendorServerNote();
// The icon of a command, with a grey, faint look when it is disabled.
QIcon commandIcon(const QString& path);
// A command action owned by `parent`, named after its text key, with its
// translated text and icon (none for an empty path).
QAction* makeAction(QObject* parent, const char* key, const QString& icon, bool available = true);
}  // namespace commands

// Which of the seven command actions the rules enable for a current database
// node of a kind (0: none) and a number of iPhone nodes.
struct CommandEnabling {
    bool backup = false;
    bool i2i = false;
    bool db2i = false;
    bool extract = false;
    bool exportFile = false;
    bool print = false;
    bool remove = false;

    static CommandEnabling forNode(int databaseNodeKind, int iphoneCount);
    bool operator==(const CommandEnabling&) const = default;
};

// The messages a command applies to.
enum class CommandScope { Nothing, Selected, Chat, All };

// Enables an action when the rule allows it and the build can run it.
void applyEnabling(QAction* action, bool enabled);
