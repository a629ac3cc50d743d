// The main window's menus, patch list, master setup frame and status line.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/backup/BackupUi.h"
#include "ui/common/QtHost.h"
#include "ui/library/LibraryMenus.h"
#include "ui/main/BackupMenus.h"
#include "ui/main/MasterSetupPanel.h"
#include "ui/main/UpDown.h"
#include "ui/main/frmMain.h"

namespace quorvane::ui {

void frmMain::BuildWindow() {
    setWindowTitle(QStringLiteral("Quorvane"));
    // The panel first: its undo history goes into the Edit menu.
    auto* central = new QWidget(this);
    setCentralWidget(central);
    masterPanel_ = new MasterSetupPanel(*u220_, Updating, central);
    MasterSetupFrame = masterPanel_;
    MTuneCombo = masterPanel_->MTuneCombo;
    UpDown = masterPanel_->UpDown;
    ChorusCheck = masterPanel_->ChorusCheck;
    ReverbCheck = masterPanel_->ReverbCheck;
    LCDCombo = masterPanel_->LCDCombo;
    MIDIRxChCombo = masterPanel_->MIDIRxChCombo;
    PaChCombo = masterPanel_->PaChCombo;
    TiChCombo = masterPanel_->TiChCombo;
    RhChCombo = masterPanel_->RhChCombo;
    RInstChCombo = masterPanel_->RInstChCombo;

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFileReload = file->addAction(QStringLiteral("&Reload"));
    mnuFileReload->setObjectName(QStringLiteral("mnuFileReload"));
    mnuFileReload->setShortcut(QKeySequence::Refresh);
    mnuFileReload->setStatusTip(QStringLiteral("Loads what is missing from the module"));
    connect(mnuFileReload, &QAction::triggered, this, [this] { mnuFileReload_Click(); });
    mnuFileMIDISetup = file->addAction(QStringLiteral("&MIDI Setup..."));
    mnuFileMIDISetup->setObjectName(QStringLiteral("mnuFileMIDISetup"));
    connect(mnuFileMIDISetup, &QAction::triggered, this, [this] { mnuFileMIDISetup_Click(); });
    file->addSeparator();
    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    masterPanel_->History()->AddActions(edit);
    edit->addSeparator();
    backupMenus_ = new BackupMenus(this, *u220_, *host_, options_.backupPrompts, activating_, quitRequested_,
                                   [this] { EnterWait(); }, [this] { LeaveWait(); });
    backupMenus_->BuildBackupMenus(file, edit);
    backup_ = backupMenus_->Ui();
    backup_->onMemoriesChanged = [this](const std::vector<int>& patches, bool working) {
        MemoriesChanged(patches, working);
    };
    mnuFileBackUp = backupMenus_->mnuFileBackUp;
    mnuFileRestore = backupMenus_->mnuFileRestore;
    mnuEditCopyPatch = backupMenus_->mnuEditCopyPatch;
    mnuEditSwapPatch = backupMenus_->mnuEditSwapPatch;
    mnuEditPutBack = backupMenus_->mnuEditPutBack;
    mnuFileExit = file->addAction(QStringLiteral("E&xit"));
    mnuFileExit->setObjectName(QStringLiteral("mnuFileExit"));
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    mnuViewMIDIMonitor = view->addAction(QStringLiteral("MIDI &Monitor"));
    mnuViewMIDIMonitor->setObjectName(QStringLiteral("mnuViewMIDIMonitor"));
    connect(mnuViewMIDIMonitor, &QAction::triggered, this, [this] { mnuViewMIDIMonitor_Click(); });
    libraryMenus_ = new LibraryMenus(this, file, mnuFileExit, view, backup_, options_.backupPrompts,  // View > Library
                                     [this](const std::function<void()>& send) { backupMenus_->RunBackupCommand(send); });
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelpAbout = help->addAction(QStringLiteral("&About Quorvane"));
    mnuHelpAbout->setObjectName(QStringLiteral("mnuHelpAbout"));
    mnuHelpAboutMIDIIO = help->addAction(QStringLiteral("&About MIDI I/O Control"));
    mnuHelpAboutMIDIIO->setObjectName(QStringLiteral("mnuHelpAboutMIDIIO"));
    connect(mnuFileExit, &QAction::triggered, this, [this] { mnuFileExit_Click(); });
    connect(mnuHelpAbout, &QAction::triggered, this, [this] { mnuHelpAbout_Click(); });
    connect(mnuHelpAboutMIDIIO, &QAction::triggered, this, [this] { mnuHelpAboutMIDIIO_Click(); });

    // Patch list: "P-01   " and the 12-character name, in a fixed-pitch font so
    // the names line up.
    pnameListBox = new QListWidget(central);
    pnameListBox->setObjectName(QStringLiteral("pnameListBox"));
    pnameListBox->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    pnameListBox->setSelectionMode(QAbstractItemView::SingleSelection);
    {
        const QFontMetrics fm(pnameListBox->font());
        pnameListBox->setMinimumWidth(fm.horizontalAdvance(QStringLiteral("P-00   MMMMMMMMMMMM")) + 40);
        pnameListBox->setMinimumHeight(fm.lineSpacing() * 20);
    }
    connect(pnameListBox, &QListWidget::currentRowChanged, this, [this](int) { pnameListBox_Click(); });
    pnameListBox->setContextMenuPolicy(Qt::ActionsContextMenu);
    backupMenus_->AddToList(pnameListBox);
    // The library's sounds play on this module and are stored into it; a
    // library patch dropped on a patch of the list is stored there.
    libraryMenus_->SetModule(
        u220_.get(), host_.get(), [this] { return switcher_ ? switcher_->CurrentModulePatch() : 0; },
        [this](const QString& text, int patchNo) {
            if (switcher_) switcher_->Auditioned(text, patchNo);
        });
    libraryMenus_->AcceptDropsOn(pnameListBox);

    cmdEditPatch = new QPushButton(QStringLiteral("Edit Patch"), central);
    cmdEditPatch->setObjectName(QStringLiteral("cmdEditPatch"));
    cmdEditPatch->setVisible(false);  // shown once the names are loaded
    {
        // Keep the layout steady while the button is hidden.
        QSizePolicy sp = cmdEditPatch->sizePolicy();
        sp.setRetainSizeWhenHidden(true);
        cmdEditPatch->setSizePolicy(sp);
    }
    connect(cmdEditPatch, &QPushButton::clicked, this, [this] { cmdEditPatch_Click(); });
    // Enter or a double click on a patch opens the editor too, once the button is there.
    connect(pnameListBox, &QListWidget::itemActivated, this, [this] {
        if (cmdEditPatch->isVisible() && cmdEditPatch->isEnabled() && !activating_) cmdEditPatch_Click();
    });

    auto* left = new QVBoxLayout;
    left->addWidget(pnameListBox, 1);
    left->addWidget(cmdEditPatch);

    lblAbout = new QLabel(QStringLiteral("Quorvane version %1").arg(QStringLiteral(QUORVANE_VERSION)), central);
    lblAbout->setObjectName(QStringLiteral("lblAbout"));

    auto* right = new QVBoxLayout;
    right->addWidget(MasterSetupFrame);
    right->addStretch(1);
    right->addWidget(lblAbout, 0, Qt::AlignRight);

    statusLabel_ = new QLabel(QStringLiteral("Status Label"), central);
    statusLabel_->setObjectName(QStringLiteral("StatusLabel"));
    statusLabel_->setWordWrap(true);  // a patch change message may be long: it wraps, the window keeps its width
    progressBar_ = new QProgressBar(central);
    progressBar_->setObjectName(QStringLiteral("ProgressBar"));
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);
    for (QWidget* w : {static_cast<QWidget*>(statusLabel_), static_cast<QWidget*>(progressBar_)}) {
        QSizePolicy sp = w->sizePolicy();
        sp.setRetainSizeWhenHidden(true);
        w->setSizePolicy(sp);
        w->setVisible(false);  // shown while names arrive
    }
    auto* status = new QHBoxLayout;
    status->addWidget(statusLabel_, 1);
    status->addWidget(progressBar_, 1);

    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 1);
    columns->addLayout(right);
    auto* outer = new QVBoxLayout(central);
    outer->addLayout(columns, 1);
    outer->addLayout(status);

    setTabOrder(pnameListBox, cmdEditPatch);
    setTabOrder(cmdEditPatch, MTuneCombo);
    setTabOrder(MTuneCombo, UpDown);
    setTabOrder(UpDown, ChorusCheck);
    setTabOrder(ChorusCheck, ReverbCheck);
    setTabOrder(ReverbCheck, LCDCombo);
    setTabOrder(LCDCombo, MIDIRxChCombo);
    setTabOrder(MIDIRxChCombo, PaChCombo);
    setTabOrder(PaChCombo, TiChCombo);
    setTabOrder(TiChCombo, RhChCombo);
    setTabOrder(RhChCombo, RInstChCombo);
}

}  // namespace quorvane::ui
