#include "FileInformation.h"

#include "Functions.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace reelpage::app {

TfrmMediaInfo::TfrmMediaInfo(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmMediaInfo"));
    setWindowTitle(QStringLiteral("File Informaion ..."));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    edFile = new QLineEdit(this);
    edFile->setReadOnly(true);
    edTitle = new QLineEdit(this);
    form->addRow(QStringLiteral("File:"), edFile);
    form->addRow(QStringLiteral("Title:"), edTitle);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* close = buttons->addButton(QStringLiteral("&Close"), QDialogButtonBox::RejectRole);
    close->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(495, 258);
}

void TfrmMediaInfo::InitForm(const MediaInfo* p) {
    if (!p) return;
    edFile->setText(FieldText(p->m_szFileName));
    edTitle->setText(FieldText(p->m_szName));
}

} // namespace reelpage::app
