#include "Options.h"

#include "Functions.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace reelpage::app {

TfrmOptions::TfrmOptions(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Options ..."));
    auto* layout = new QVBoxLayout(this);

    PageControl1 = new QTabWidget(this);
    auto* general = new QWidget(PageControl1);
    auto* page = new QVBoxLayout(general);
    page->addWidget(new QLabel(QStringLiteral("Publish to Folder:"), general));
    auto* row = new QHBoxLayout;
    edFolder = new QLineEdit(general);
    edFolder->setReadOnly(true);
    btnBrowse = new QPushButton(QStringLiteral("..."), general);
    btnBrowse->setFixedWidth(32);
    row->addWidget(edFolder, 1);
    row->addWidget(btnBrowse);
    page->addLayout(row);
    page->addStretch(1);
    PageControl1->addTab(general, QStringLiteral("General"));
    layout->addWidget(PageControl1, 1);

    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setDefault(true);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(btnClose);
    layout->addLayout(bottom);

    if (AppSettings) edFolder->setText(FieldText(AppSettings->m_szFolder));
    connect(btnBrowse, &QPushButton::clicked, this, [this] { btnBrowseClick(); });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    resize(520, 380);
}

void TfrmOptions::btnBrowseClick() {
    QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Select Export Folder:"), edFolder->text());
    if (folder.isEmpty() || !AppSettings) return;
    edFolder->setText(folder);
    SetFieldText(AppSettings->m_szFolder, folder);
}

} // namespace reelpage::app
