// The main window.  One class, as the rest of the program treats it; its handlers are
// spread over one source file per concern (startup, itemlist, itemcommands, groups,
// typing, browser, exchange, download, layout).
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTimer>
#include <optional>
#include <QWidget>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "mainwindow/Controls.h"
#include "mainwindow/SortedListBox.h"
#include "model/DateTime.h"
#include "model/Model.h"
#include "platform/ProgramPaths.h"

namespace quorvel {

class Clock;
class Dialogs;
class IniFile;
class Keyboard;
class ActiveWindow;
class KeyfillEngine;
class OwnKeysGuard;
class RunInputFence;
class Shell;
class BrowserConversation;
class TKeyfillForm;
class TAdImage;
class TTipOfTheDay;
class TDropURLTarget;
class TDropTarget;

// Everything the window reaches outside itself, injected so tests can replace it.
struct MainFormSeams {
    Dialogs* dialogs = nullptr;
    Clock* clock = nullptr;
    FormatSettings* formats = nullptr;
    ProgramPaths paths;
    Keyboard* keyboard = nullptr;          // typing into other windows
    ActiveWindow* activeWindow = nullptr;  // the foreground window
    // When typing cannot work on this desktop: what is missing, for the user.
    QString typingMissing;
    Shell* shell = nullptr;                // opening addresses and files, the browser check
    BrowserConversation* browser = nullptr;  // driving a named browser
    QString downloadHost;                  // the download server (IPv4 address); empty: none
    quint16 downloadPort = 80;
    int downloadTimeoutMs = 30000;         // a request that receives nothing this long fails
    int downloadDeadlineMs = 300000;       // no request lasts longer than this
    qint64 downloadMaxBytes = 64LL * 1024 * 1024;  // a longer reply is no file of ours
    QString advertLibrary;                 // full path of advert.so; empty: beside the program
};

class TMainForm : public QWidget {
    Q_OBJECT
public:
    explicit TMainForm(const MainFormSeams& seams, QWidget* parent = nullptr);
    ~TMainForm() override;

    // ---- start-up and shutdown (startup.cpp)
    void FormCreate();
    void FormDestroy();
    void AlwaysOnTopClick();
    void AdAdCounted() { ++AdCount; }
    bool destroyed() const { return destroyed_; }
    // The settings file as the window's state would write it, and the write itself.
    std::string settingsFileBytes() const;
    void writeSettings();

    // ---- model operations (itemlist.cpp)
    int FindItem(int row);
    void DeleteItem(int row);
    void CreateNewItem(const QString& site, const QString& proposedName);
    int FindGroup(const QString& name) const;
    void CreateNewGroup(const QString& name);

    // ---- main data file (startup.cpp)
    bool SaveData(bool backup);  // false when a file was not written (the user was told)
    std::string mainDataFileBytes() const;  // what SaveData writes
    void LoadMainData();
    void MenuSaveDataClick();

    // ---- due rules and display (itemlist.cpp)
    bool CheckDone(const std::string& lastDone, int repeatDays) const;
    bool CheckDone(const std::string& lastDone, int repeatDays, double now) const;
    bool CheckDateTime(const std::string& text) const;
    void SelectOneItem(int row);
    void NextButClick();
    void MenuUpdateClick();
    void EntriesDrawItem(int row, QPainter& canvas, const QRect& rect, bool selected);
    void Timer1Timer();

    // ---- item commands and editing (itemcommands.cpp)
    void EntriesClick();
    void UrlChange();
    void LastChange();
    void FreqChange();
    void NumEntriesChange();
    void CommentsChange();
    void NewButClick();
    void DelButClick();
    void DoneButClick();
    void DoneButMouseDown(Qt::MouseButton button);
    void MenuMarkUnDoneClick();
    void MenuRenameItemClick();
    void MenuFindItemClick();
    void GotoButClick();
    void EntriesDblClick() { GotoButClick(); }

    // ---- groups (groups.cpp)
    void GroupListChange();
    void MenuAddNewGroupClick();
    void MenuRenameGroupClick();
    void MenuDeleteGroupClick();
    void MenuGroupSelectClick(QAction* entry);

    // ---- variables (typing/Form_variables.cpp)
    bool InVars(const QString& bracedName) const;
    QString variableValue(const QString& bracedName) const;
    void LoadVariables();
    void SaveVariables();
    void VariablesClick();
    void VarNameChange();
    void VarValueChange();
    void VarNewButtonClick();
    void VarDelButtonClick();
    void refillEditorVariables();

    // ---- typing (typing/Form_typing.cpp)
    void KeyfillClick();
    void KeyfillMouseDown(Qt::MouseButton button);
    void SendKey(char32_t character);
    void SendVariable(const std::string& bracedName);
    void SimulateKeyDown(int vk);
    void SimulateKeyUp(int vk);
    void SimulateKeystroke(int vk, int scanCode);
    void TypeDelayTimer();
    void FindTargetTimer();
    void setKeyfillGlyph(const Rec* item);
    // The X ids of our windows that exist now: the keys must never go into one of them.
    std::vector<unsigned long> ownWindows() const;
    // The typing target's title for messages.
    QString targetName() const;
    // This window's id as the window system knows it now.
    unsigned long ownWindowId() const;
    // Types the script into the target that has the keyboard; tells the user when the run
    // had to stop.
    void typeScript(const std::string& script);

    // ---- browser and help (browser/Form_browser.cpp)
    void GotoUrl(const QString& url, bool newWindow);
    void GotoButMouseDown(Qt::MouseButton button);
    void FindButtonClick();
    void HelpButClick();
    void BrowserCheck();

    // ---- group data files (exchange/Form_exchange.cpp)
    bool Duplicate(const std::string& name);
    void LoadDataFile(const QString& path);
    void MenuSaveGroupClick();
    void MenuLoadGroupClick();

    // ---- download (exchange/Form_download.cpp)
    bool RequestFile(const QString& name);
    void ClientConnect();
    void ClientRead();
    void ClientDisconnect();
    void ClientError();
    void CheckButtonClick();
    void FileListClick();
    void DownloadButClick();
    // A copy built without a download server says so on the Download tab and never checks.
    bool hasDownloadServer() const { return !seams.downloadHost.isEmpty(); }
    void showNoDownloadServer();

    // ---- drop target (components)
    void DropURLTargetDrop();

    // ---- layout (layout.cpp)
    void FormResize();

    // ---- model and state, reached directly as the rest of the program does
    ItemList Items;
    GroupTable Groups;
    std::array<QAction*, GroupTable::kCapacity> GroupMenuItems{};
    Rec* CurrentItem = nullptr;
    bool Loading = false;
    bool RowPaintEnabled = false;
    QString LastSearch;
    int DueCount = 0;
    std::int32_t AdCount = 0;

    // ---- controls (design names)
    QTabWidget* Page;
    QWidget* EntriesTab;
    QWidget* OptionsTab;
    QWidget* VarTab;
    QWidget* DownLoadTab;
    TAdImage* Ad;  // the banner below the tabs

    QLabel* Label8;  // "Groups:"
    QComboBox* GroupList;
    QLabel* Label1;  // "Items:"
    SortedListBox* Entries;
    QLabel* Label4;  // "Web site:"
    QLineEdit* Url;
    QLabel* Label7;  // "Last completed:"
    QLineEdit* Last;
    QLabel* Label9;  // "Entries:"
    QLineEdit* NumEntries;
    QLabel* Label6;  // "Repeat: (Days)"
    SpinEdit* Freq;
    PressButton* Keyfill;
    QLabel* Label5;  // "Rules && Comments:"
    QPlainTextEdit* Comments;
    QPushButton* NewBut;
    QPushButton* DelBut;
    PressButton* GotoBut;
    PressButton* DoneBut;
    QPushButton* NextBut;
    QPushButton* HelpBut;

    QMenu* PopupMenu1;
    QMenu* MenuGroups;
    QAction* MenuGroupSelect;  // "Remove"
    QAction* NewItem1;
    QAction* MenuDeleteItem;
    QAction* MenuRenameItem;
    QAction* MenuGotoURL;
    QAction* MenuMarkasDone;
    QAction* MenuMarkUnDone;
    QAction* MenuUpdate;
    QAction* MenuFindItem;
    QAction* MenuNextUndone;
    QAction* MenuSaveData;
    QAction* MenuCancel;

    QGroupBox* GeneralBox;
    QCheckBox* TipOfTheDay;
    QCheckBox* AutoSave;
    QCheckBox* AutoCheck;
    QCheckBox* SlowDownType;
    QCheckBox* AlwaysOnTop;
    QGroupBox* DownloadBox;
    QCheckBox* CheckForFiles;
    QCheckBox* NewOnly;
    QGroupBox* BrowserBox;
    QLineEdit* Browser;
    QPushButton* FindButton;

    QLabel* Label12;  // "Variables:"
    SortedListBox* Variables;
    QPlainTextEdit* VarHelp;
    QLabel* Label10;  // "Variable Name:"
    QLineEdit* VarName;
    QLabel* Label11;  // "Value:"
    QLineEdit* VarValue;
    QPushButton* VarNewButton;
    QPushButton* VarDelButton;

    QLabel* Label13;  // "Availlable Files:"
    SortedListBox* FileList;
    QPushButton* CheckButton;
    QLabel* Label14;  // "Description:"
    QPlainTextEdit* Description;
    QPushButton* DownloadBut;
    QPlainTextEdit* DownloadHelp;

    QTimer* Timer1;
    QTimer* FindTarget;
    QTimer* TypeDelay;
    QTimer* GiveBackKeys;  // returns keys lent to characters once they have been idle

    QMenu* PopupMenu2;  // of GroupList
    QAction* MenuAddNewGroup;
    QAction* MenuRenameGroup;
    QAction* MenuDeleteGroup;
    QAction* MenuSaveGroup;
    QAction* MenuLoadGroup;
    QAction* MenuGroupCancel;

    // Variables: the table of "{name}=value" lines, in file order.
    std::vector<std::string> VarTable;
    // Typing.
    unsigned long TargetWindow = 0;  // last foreground window other than this one
    std::unique_ptr<KeyfillEngine> Typist;
    OwnKeysGuard* OwnKeys = nullptr;  // no key of a run reaches our windows
    std::unique_ptr<RunInputFence> RunFence;
    bool noDisplayExplained_ = false;
    TKeyfillForm* KeyfillForm = nullptr;
    // Download.
    class QTcpSocket* Client = nullptr;
    QString RequestedFile;
    bool Transferring = false;
    bool TransferFailed = false;
    std::vector<std::string> ListLines;
    // Components.
    TTipOfTheDay* TipOfTheDay1 = nullptr;
    TDropURLTarget* DropURLTarget = nullptr;

    // Glyph holders: normal and disabled images of the row and Type button glyphs.
    QIcon CheckedGlyph, CheckGrnGlyph, KeyGrnGlyph, KeyboardGlyph;

    // Seams.
    Dialogs& dialogs;
    Clock& clock;
    FormatSettings& formats;
    const ProgramPaths paths;
    MainFormSeams seams;

    // Helpers named after what they do.
    Rec& itemAtRow(int row) { return Items.at(static_cast<std::size_t>(FindItem(row))); }
    QString shownGroupName() const { return GroupList->currentText(); }
    int currentYear() const;
    std::string nowText() const;  // date-time text of now
    void setLabelCounts(int due);
    void repaintEntries();
    void focusEntries();
    void addGroupMenuItem(int position);
    QString shutdownSaveNote() const { return damagedDataNote_; }

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildEntriesTab();
    void buildOptionsTab();
    void buildVariablesTab();
    void buildDownloadTab();
    void buildPopupMenu();
    void buildGroupMenu();
    void setupTyping();
    void createKeyfillForm();
    void createComponents();
    void connectItemControls();
    void readSettings(const IniFile& ini);
    void keepDamagedDataFile();
    void restoreBackupAfterFailedSave();

    bool destroyed_ = false;
    bool dataFileDamaged_ = false;   // the loaded file did not read cleanly
    bool damagedFileKept_ = false;   // ... and has been kept under another name
    QString damagedDataNote_;
    bool inResize_ = false;
    // The saved outer place and height, put right once the window manager has framed the
    // window: before it is shown, the frame's size is not known.
    std::optional<QRect> savedOuter_;
    int placeTries_ = 0;
    void placeAsSaved();
};

}  // namespace quorvel
