#include "Home.h"

#include "GraphicsButton.h"
#include "Functions.h"
#include "ImageResource.h"
#include "Loading.h"
#include "LowInterface.h"
#include "Main.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace reelpage::app {

namespace {

// The patterns as the import has always offered them: "name|patterns|...",
// patterns separated by ';'.
const char kFilter[] =
    "Video Files|*.3g2;*.3gp;*.3gp2;*.3gpp;*.amv;*.asf;*.asx;*.avi;*.bin;*.dat;*.divx;*.drc;"
    "*.dv;*.dvr-ms;*.f4v;*.f4v;*.flv;*.flv;*.gxf;*.h264;*.hdmov;*.iso;*.ivf;*.m1v;*.m2t;*.m2ts;"
    "*.m2v;*.m4v;*.mjp;*.mjpg;*.mkv;*.mod;*.mov;*.movie;*.mp2;*.mp2v;*.mp4;*.mp4v;*.mpa;*.mpe;"
    "*.mpeg;*.mpeg1;*.mpeg2;*.mpeg4;*.mpg;*.mpv2;*.mpv4;*.mts;*.mtv;*.mxf;*.mxg;*.nsv;*.nuv;"
    "*.ogg;*.ogm;*.ogv;*.ogx;*.ps;*.ram;*.rec;*.rm;*.rmm;*.rmvb;*.rpm;*.swf;*.tod;*.ts;*.tts;"
    "*.vob;*.vro;*.webm;*.wm;*.wmd;*.wmp;*.wmv;*.wmv;*.wmx;*.wmz;*.wpl;*.wv;*.yuv|"
    "AVI Video|*.avi|DVD file|*.vob|Flash Video File|*.flv;*.f4v|"
    "MPEG Video|*.mpg;*.mpe;*.mpeg;*.m1v;*.m2v;*.dat;*.vob;*.mod;*.h264|"
    "MPEG-4 Video|*.mp4;*.m4v|MPEG-TS Files|*.m2ts;*.m2t;*.mts;*.ts;*.tod|"
    "Windows Media Video|*.wmv;*.asf|Real Media Files|*.rm;*.rmvb|"
    "QuickTime Movie|*.mov;*.qt;*.mp4;*.m4v;*.dv;*.3gp;*.3g2|"
    "3GP Video|*.3gp;*.3g2;*.3gpp;*.3gp2|Digital Video|*.dv|All Files|*.*";

} // namespace

QString TfrmHome::OpenDialogFilter() {
    return DialogFilter(QString::fromLatin1(kFilter));
}

TfrmHome::TfrmHome(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmHome"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);

    btnAddFile = new TGraphicsButton(this);
    btnAddFile->setObjectName(QStringLiteral("btnAddFile"));
    btnAddFile->setText(QStringLiteral("Import"));
    btnAddFile->setToolTip(QStringLiteral("Add Video Files"));
    btnAddFile->SetImage(&Images.AddVideo);
    QFont bold = btnAddFile->font();
    bold.setBold(true);
    bold.setPixelSize(12);
    btnAddFile->setFont(bold);
    btnAddFile->setMinimumHeight(44);
    connect(btnAddFile, &QPushButton::clicked, this, [this] { btnAddFileClick(); });
    layout->addWidget(btnAddFile);

    auto* form = new QFormLayout;
    edTitle = new QLineEdit(this);
    edTitle->setObjectName(QStringLiteral("edTitle"));
    edTitle->setEnabled(false);
    connect(edTitle, &QLineEdit::textChanged, this,
            [this](const QString& text) { edTitleChange(text); });
    form->addRow(QStringLiteral("Title:"), edTitle);
    layout->addLayout(form);
    layout->addStretch(1);
}

void TfrmHome::btnAddFileClick() {
    QFileDialog dialog(window(), QStringLiteral("Add Video Files"), QString(), OpenDialogFilter());
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The first entry lists some eighty patterns; the names say enough.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (dialog.exec() != QDialog::Accepted) return;
    const QStringList chosen = dialog.selectedFiles();
    if (!chosen.isEmpty()) AddFile(chosen.first());
}

void TfrmHome::AddFile(const QString& fileName) {
    TfrmMain* main = frmMain.data();
    bool success = false;
    QString status;
    MediaInfo* media = nullptr;
    {
        TfrmLoading loading(main ? static_cast<QWidget*>(main) : window());
        loading.AddFile(fileName);
        loading.exec();
        success = loading.FSuccess;
        status = loading.FStatus;
        media = loading.FMediaInfo;
    }
    if (success) {
        Project* project =
            Low.CreateProject(media, main ? main->RenderHandle() : 0, main ? main->Handle() : 0);
        if (project) {
            AppProject = project;
            AppProjectMedia = media;
            LoadProject();
        } else {
            // The engine could not build a project: the old one stays, and
            // the user hears of it rather than seeing nothing happen.
            ShowMessage(window(), QStringLiteral("Failed to import file"), ApplicationTitle,
                        QMessageBox::Critical);
        }
    } else if (!status.isEmpty()) {
        ShowMessage(window(), status, ApplicationTitle, QMessageBox::Critical);
    }
    if (main) main->ReloadHistory();
}

void TfrmHome::LoadProject() {
    FChanging = true;
    edTitle->setEnabled(AppProjectMedia != nullptr);
    edTitle->setText(AppProjectMedia ? FieldText(AppProjectMedia->m_szName) : QString());
    FChanging = false;
    if (frmMain) frmMain->OnTaskChanged();
}

void TfrmHome::StoreTitle(const QString& text) {
    if (!AppProjectMedia) return;
    // The published page keeps room for two more characters of the record's
    // 64: at most 62 are stored.
    SetFieldText(AppProjectMedia->m_szName, 63, text);
    Low.SaveMediaInfo(AppProjectMedia);
}

void TfrmHome::edTitleChange(const QString& text) {
    if (FChanging) return;
    StoreTitle(text);
}

void TfrmHome::ChangeTitle(const QString& title) {
    FChanging = true;
    edTitle->setText(title);
    StoreTitle(title);
    FChanging = false;
}

} // namespace reelpage::app
