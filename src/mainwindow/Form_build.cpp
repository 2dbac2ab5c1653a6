// Building the window's controls with their design captions, hints and menus.
#include <QAction>
#include <QApplication>
#include <QVBoxLayout>

#include "components/AdImage.h"
#include "mainwindow/TMainForm.h"
#include "typing/core/KeyfillEngine.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/RunInputFence.h"

namespace quorvel {

namespace {

QLabel* label(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    return l;
}

QPushButton* button(const QString& text, const QString& hint, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setToolTip(hint);
    return b;
}

QIcon glyph(const QString& name) {
    QIcon icon;
    icon.addFile(QStringLiteral(":/glyphs/%1.png").arg(name), {}, QIcon::Normal);
    icon.addFile(QStringLiteral(":/glyphs/%1_disabled.png").arg(name), {}, QIcon::Disabled);
    return icon;
}

}  // namespace

TMainForm::TMainForm(const MainFormSeams& seams, QWidget* parent)
    : QWidget(parent),
      dialogs(*seams.dialogs),
      clock(*seams.clock),
      formats(*seams.formats),
      paths(seams.paths),
      seams(seams) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont f = font();
    f.setPointSizeF(8.25);  // about the design's size, so every caption fits its control
    setFont(f);

    CheckedGlyph = glyph(QStringLiteral("checked"));
    CheckGrnGlyph = glyph(QStringLiteral("checkgrn"));
    KeyGrnGlyph = glyph(QStringLiteral("keygrn"));
    KeyboardGlyph = glyph(QStringLiteral("keyboard"));

    Page = new QTabWidget(this);
    EntriesTab = new QWidget;
    OptionsTab = new QWidget;
    VarTab = new QWidget;
    DownLoadTab = new QWidget;
    Page->addTab(EntriesTab, QStringLiteral("Entries"));
    Page->addTab(OptionsTab, QStringLiteral("Options"));
    Page->addTab(VarTab, QStringLiteral("Variables"));
    Page->addTab(DownLoadTab, QStringLiteral("Download"));
    createComponents();

    buildEntriesTab();
    buildPopupMenu();
    buildGroupMenu();
    buildOptionsTab();
    buildVariablesTab();
    buildDownloadTab();
    connectItemControls();

    Timer1 = new QTimer(this);
    Timer1->setInterval(900000);
    connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
    FindTarget = new QTimer(this);
    FindTarget->setInterval(100);
    TypeDelay = new QTimer(this);
    TypeDelay->setInterval(2);
    GiveBackKeys = new QTimer(this);
    GiveBackKeys->setInterval(10000);

    connect(Page, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == 0) focusEntries();
    });

    setupTyping();

    EntriesTab->installEventFilter(this);
    resize(542, 339);
    FormCreate();
    createKeyfillForm();
    Timer1->start();
    FindTarget->start();
    GiveBackKeys->start();
}

void TMainForm::buildEntriesTab() {
    QWidget* t = EntriesTab;
    Label8 = label(QStringLiteral("Groups:"), t);
    GroupList = new QComboBox(t);
    GroupList->setToolTip(QStringLiteral("Groups - Right click for options"));
    GroupList->addItem(QStringLiteral("All Items"));
    Label1 = label(QStringLiteral("Items:"), t);
    Entries = new SortedListBox(t, true);
    Entries->setRowHeight(16);
    Entries->setRowPainter([this](int row, QPainter& p, const QRect& r, bool selected) {
        EntriesDrawItem(row, p, r, selected);
    });
    Entries->setContextMenuPolicy(Qt::CustomContextMenu);
    Label4 = label(QStringLiteral("Web site:"), t);
    Url = new QLineEdit(t);
    Label7 = label(QStringLiteral("Last completed:"), t);
    Last = new QLineEdit(t);
    Label9 = label(QStringLiteral("Entries:"), t);
    NumEntries = new QLineEdit(t);
    Label6 = label(QStringLiteral("Repeat: (Days)"), t);
    Freq = new SpinEdit(1, 365, t);
    Freq->setValue(5);
    Keyfill = new PressButton(QStringLiteral("Type"), t);
    Keyfill->setToolTip(QStringLiteral("Keyfill"));
    Keyfill->setIcon(KeyboardGlyph);
    Label5 = label(QStringLiteral("Rules & Comments:"), t);
    Comments = new QPlainTextEdit(t);
    Comments->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Comments->setTabChangesFocus(true);
    NewBut = button(QStringLiteral("New"), QStringLiteral("Add new Item"), t);
    DelBut = button(QStringLiteral("Del"), QStringLiteral("Delete this Item"), t);
    GotoBut = new PressButton(QStringLiteral("Goto"), t, true);
    GotoBut->setToolTip(QStringLiteral("Goto the web site"));
    DoneBut = new PressButton(QStringLiteral("Done"), t);
    DoneBut->setToolTip(QStringLiteral("Mark item as done"));
    NextBut = button(QStringLiteral("Next"), QStringLiteral("Next item to do"), t);
    HelpBut = button(QStringLiteral("Help"), QStringLiteral("Read Help File"), t);

    // Keyboard order of the tab, as users of the design know it.
    QWidget* order[] = {Url,    Entries, Comments, NewBut,     DelBut,   Last,    GotoBut,
                        DoneBut, NextBut, GroupList, NumEntries, Keyfill, HelpBut, Freq};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void TMainForm::buildPopupMenu() {
    PopupMenu1 = new QMenu(this);
    MenuGroups = PopupMenu1->addMenu(QStringLiteral("Groups"));
    MenuGroupSelect = MenuGroups->addAction(QStringLiteral("Remove"));
    auto entry = [this](const QString& caption, const QKeySequence& key, auto handler) {
        QAction* a = PopupMenu1->addAction(caption);
        if (!key.isEmpty()) {
            a->setShortcut(key);
            // The shortcuts belong to the list and act while it has the focus.
            a->setShortcutContext(Qt::WidgetShortcut);
            Entries->addAction(a);
        }
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    NewItem1 = entry(QStringLiteral("New Item"), QKeySequence(Qt::CTRL | Qt::Key_N),
                     &TMainForm::NewButClick);
    MenuDeleteItem = entry(QStringLiteral("Delete Item"), QKeySequence(Qt::CTRL | Qt::Key_D),
                           &TMainForm::DelButClick);
    MenuRenameItem = entry(QStringLiteral("Rename Item"), QKeySequence(Qt::CTRL | Qt::Key_R),
                           &TMainForm::MenuRenameItemClick);
    MenuGotoURL = entry(QStringLiteral("Goto URL"), QKeySequence(Qt::CTRL | Qt::Key_G),
                        &TMainForm::GotoButClick);
    MenuMarkasDone = entry(QStringLiteral("Mark as Done"), QKeySequence(Qt::CTRL | Qt::Key_M),
                           &TMainForm::DoneButClick);
    MenuMarkUnDone = entry(QStringLiteral("Mark as Undone"), QKeySequence(Qt::CTRL | Qt::Key_L),
                           &TMainForm::MenuMarkUnDoneClick);
    MenuUpdate = entry(QStringLiteral("Update"), QKeySequence(Qt::CTRL | Qt::Key_U),
                       &TMainForm::MenuUpdateClick);
    MenuFindItem = entry(QStringLiteral("Find Item"), QKeySequence(Qt::Key_F3),
                         &TMainForm::MenuFindItemClick);
    MenuNextUndone = entry(QStringLiteral("Next Undone"), QKeySequence(Qt::CTRL | Qt::Key_A),
                           &TMainForm::NextButClick);
    PopupMenu1->addSeparator();
    MenuSaveData = entry(QStringLiteral("Save Now"), QKeySequence(Qt::CTRL | Qt::Key_S),
                         &TMainForm::MenuSaveDataClick);
    PopupMenu1->addSeparator();
    MenuCancel = PopupMenu1->addAction(QStringLiteral("Cancel"));
    connect(Entries, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenu1->popup(Entries->viewport()->mapToGlobal(p)); });
}

void TMainForm::buildOptionsTab() {
    QWidget* t = OptionsTab;
    GeneralBox = new QGroupBox(QStringLiteral("General Options:"), t);
    auto* g = new QVBoxLayout(GeneralBox);
    g->setContentsMargins(8, 4, 8, 4);
    g->setSpacing(2);
    auto check = [](const QString& text, QWidget* parent, QVBoxLayout* layout) {
        auto* c = new QCheckBox(text, parent);
        layout->addWidget(c);
        return c;
    };
    TipOfTheDay = check(QStringLiteral("Show Tip of the Day at startup"), GeneralBox, g);
    AutoSave = check(QStringLiteral("Automatically save data every 15 minutes"), GeneralBox, g);
    AutoCheck = check(QStringLiteral("Automatically check for uncompleted items every 15 minutes"),
                      GeneralBox, g);
    SlowDownType = check(QStringLiteral("Slow down Type Function"), GeneralBox, g);
    AlwaysOnTop = check(QStringLiteral("Keep Quorvel windows Always On Top"), GeneralBox, g);
    connect(AlwaysOnTop, &QCheckBox::toggled, this, &TMainForm::AlwaysOnTopClick);

    DownloadBox = new QGroupBox(QStringLiteral("Download Options:"), t);
    auto* d = new QVBoxLayout(DownloadBox);
    d->setContentsMargins(8, 0, 8, 0);  // two boxes in the design's 52 pixels
    d->setSpacing(0);
    CheckForFiles = check(QStringLiteral("Check for new Quorvel Data Files on Startup"),
                          DownloadBox, d);
    NewOnly = check(QStringLiteral("Only display new files in list"), DownloadBox, d);
    CheckForFiles->setFixedHeight(16);
    NewOnly->setFixedHeight(16);

    BrowserBox = new QGroupBox(QStringLiteral("Browser: (leave blank to use default)"), t);
    Browser = new QLineEdit(BrowserBox);
    FindButton = new QPushButton(QStringLiteral("Find"), BrowserBox);
}

void TMainForm::buildVariablesTab() {
    QWidget* t = VarTab;
    Label12 = label(QStringLiteral("Variables:"), t);
    Variables = new SortedListBox(t, false);
    VarHelp = new QPlainTextEdit(t);
    VarHelp->setReadOnly(true);
    VarHelp->setFrameStyle(QFrame::NoFrame);
    Label10 = label(QStringLiteral("Variable Name:"), t);
    VarName = new QLineEdit(t);
    Label11 = label(QStringLiteral("Value:"), t);
    VarValue = new QLineEdit(t);
    VarNewButton = button(QStringLiteral("New"), QStringLiteral("Add New Variable"), t);
    VarDelButton = button(QStringLiteral("Del"), QStringLiteral("Delete Selected Variable"), t);
}

void TMainForm::buildDownloadTab() {
    QWidget* t = DownLoadTab;
    Label13 = label(QStringLiteral("Availlable Files:"), t);
    FileList = new SortedListBox(t, false);
    FileList->setToolTip(QStringLiteral("List of Available Files"));
    CheckButton = button(QStringLiteral("Check"), QStringLiteral("Check for new Files"), t);
    Label14 = label(QStringLiteral("Description:"), t);
    Description = new QPlainTextEdit(t);
    Description->setToolTip(QStringLiteral("Description of Selected File"));
    Description->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    DownloadBut = button(QStringLiteral("Download FIle"), QStringLiteral("Download Selected File"), t);
    DownloadHelp = new QPlainTextEdit(t);
    DownloadHelp->setReadOnly(true);
    DownloadHelp->setFrameStyle(QFrame::NoFrame);
    DownloadHelp->setBackgroundRole(QPalette::Button);
    DownloadHelp->viewport()->setBackgroundRole(QPalette::Button);
    DownloadHelp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void TMainForm::connectItemControls() {
    connect(Entries, &SortedListBox::userClicked, this, &TMainForm::EntriesClick);
    connect(Entries, &SortedListBox::doubleClickedRow, this, &TMainForm::EntriesDblClick);
    connect(Url, &QLineEdit::textChanged, this, &TMainForm::UrlChange);
    connect(Last, &QLineEdit::textChanged, this, &TMainForm::LastChange);
    connect(Freq, &SpinEdit::textChanged, this, &TMainForm::FreqChange);
    connect(NumEntries, &QLineEdit::textChanged, this, &TMainForm::NumEntriesChange);
    connect(Comments, &QPlainTextEdit::textChanged, this, &TMainForm::CommentsChange);
    connect(NewBut, &QPushButton::clicked, this, &TMainForm::NewButClick);
    connect(DelBut, &QPushButton::clicked, this, &TMainForm::DelButClick);
    connect(DoneBut, &QPushButton::clicked, this, &TMainForm::DoneButClick);
    connect(DoneBut, &PressButton::mouseDown, this, &TMainForm::DoneButMouseDown);
    connect(NextBut, &QPushButton::clicked, this, &TMainForm::NextButClick);
    connect(GotoBut, &QPushButton::clicked, this, &TMainForm::GotoButClick);
    connect(GotoBut, &PressButton::mouseDown, this, &TMainForm::GotoButMouseDown);
    connect(HelpBut, &QPushButton::clicked, this, &TMainForm::HelpButClick);
    connect(FindButton, &QPushButton::clicked, this, &TMainForm::FindButtonClick);
    connect(CheckButton, &QPushButton::clicked, this, &TMainForm::CheckButtonClick);
    connect(DownloadBut, &QPushButton::clicked, this, &TMainForm::DownloadButClick);
    connect(FileList, &SortedListBox::userClicked, this, &TMainForm::FileListClick);
    connect(Variables, &SortedListBox::userClicked, this, &TMainForm::VariablesClick);
    connect(VarName, &QLineEdit::textEdited, this, &TMainForm::VarNameChange);
    connect(VarValue, &QLineEdit::textEdited, this, &TMainForm::VarValueChange);
    connect(VarNewButton, &QPushButton::clicked, this, &TMainForm::VarNewButtonClick);
    connect(VarDelButton, &QPushButton::clicked, this, &TMainForm::VarDelButtonClick);
}

}  // namespace quorvel
