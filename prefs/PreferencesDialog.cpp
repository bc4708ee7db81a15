#include "PreferencesDialog.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace kalidrome {

PreferencesDialog::PreferencesDialog(QWidget* parent) : QDialog(parent), m_pages(new QTabWidget(this)) {
    setObjectName("frmOptions1");
    setWindowTitle("Kalidrome - Options");
    m_pages->setObjectName("pgcOptions1");
    for (const char* name : {"Basic Options", "Screensaver", "Advanced Options", "Time Based Cycling"})
        m_pages->addTab(new QWidget(m_pages), QString::fromLatin1(name));

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton("&Cancel", QDialogButtonBox::RejectRole);
    QPushButton* ok = buttons->addButton("&OK", QDialogButtonBox::AcceptRole);
    QFont bold = ok->font();
    bold.setBold(true);
    ok->setFont(bold);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    layout->addWidget(buttons);
    resize(366, 287);
}

void PreferencesDialog::selectPage(int index) { m_pages->setCurrentIndex(index); }

int PreferencesDialog::currentPage() const { return m_pages->currentIndex(); }

}  // namespace kalidrome
