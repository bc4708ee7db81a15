#pragma once

#include <QDialog>

class QTabWidget;

namespace kalidrome {

// The options dialog. Its pages are filled by the preferences work; for now it carries
// the four pages so that callers can open it on a given page.
class PreferencesDialog : public QDialog {
    Q_OBJECT
public:
    explicit PreferencesDialog(QWidget* parent = nullptr);

    void selectPage(int index);
    int currentPage() const;

private:
    QTabWidget* m_pages;
};

}  // namespace kalidrome
