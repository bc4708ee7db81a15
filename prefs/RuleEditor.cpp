#include "RuleEditor.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include "IniFile.h"

namespace kalidrome {

namespace {

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }


}  // namespace

RuleEditor::RuleEditor(Hooks hooks, QWidget* parent)
    : QWidget(parent),
      m_hooks(std::move(hooks)),
      m_label9(new QLabel(QStringLiteral("If you want you can let Kalidrome cycle on definite dates."), this)),
      m_label12(new QLabel(QStringLiteral("For example: cycle every 6th of each month..."), this)),
      m_list(new QListWidget(this)),
      m_label10(new QLabel(QStringLiteral("Cycle Time: every"), this)),
      m_number(new QComboBox(this)),
      m_kinds(new QComboBox(this)),
      m_add(new QPushButton(QStringLiteral("&Add"), this)),
      m_menu(new QMenu(this)),
      m_delete(new QAction(QStringLiteral("&Delete"), m_menu)),
      m_clear(new QAction(QStringLiteral("C&lear"), m_menu)) {
    m_label9->setObjectName("Label9");
    m_label12->setObjectName("Label12");
    m_list->setObjectName("lbList1");
    m_label10->setObjectName("Label10");
    m_number->setObjectName("cbNr1");
    m_kinds->setObjectName("cbList1");
    m_add->setObjectName("btnAdd1");
    m_menu->setObjectName("pmList1");
    m_delete->setObjectName("Delete1");
    m_clear->setObjectName("Clear1");

    QPalette navy = m_label9->palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    m_label9->setPalette(navy);
    m_label12->setPalette(navy);

    // The two lines of explanation, the rules, and under them the row that builds a rule;
    // every part at least its nominal size, and as large as its words ask.
    m_list->setMinimumSize(342, 137);
    m_label10->setMinimumWidth(86);
    m_number->setMinimumSize(85, 21);
    m_kinds->setMinimumSize(95, 21);
    m_kinds->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_add->setMinimumSize(67, 20);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(0);
    layout->addWidget(m_label9);
    layout->addWidget(m_label12);
    layout->addSpacing(10);
    layout->addWidget(m_list, 1);
    layout->addSpacing(4);
    auto* row = new QHBoxLayout;
    row->setSpacing(3);
    row->addWidget(m_label10);
    row->addWidget(m_number);
    row->addWidget(m_kinds);
    row->addWidget(m_add);
    row->addStretch(1);
    layout->addLayout(row);
    layout->addStretch(0);
    // A screen reader names each part by the caption that explains it, in any language.
    m_label12->setBuddy(m_kinds);
    m_label10->setBuddy(m_number);

    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_menu->addAction(m_delete);
    m_menu->addAction(m_clear);
    connect(m_list, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_menu->popup(m_list->viewport()->mapToGlobal(at)); });
    connect(m_menu, &QMenu::aboutToShow, this, &RuleEditor::prepareContextMenu);
    connect(m_delete, &QAction::triggered, this, &RuleEditor::deleteRule);
    connect(m_clear, &QAction::triggered, this, &RuleEditor::clearRules);

    m_number->setEditable(true);
    m_number->setInsertPolicy(QComboBox::NoInsert);
    for (int n = 1; n <= 31; ++n) m_number->addItem(QString::number(n));
    m_number->setCurrentIndex(-1);
    m_number->setEditText(QString());
    // Keys reach the box itself first (it holds the focus) and its edit field after.
    m_number->installEventFilter(this);
    m_number->lineEdit()->installEventFilter(this);
    connect(m_number, &QComboBox::editTextChanged, this, &RuleEditor::numberChanged);

    for (std::string_view item : kRuleKindListItems) m_kinds->addItem(Q(item));
    m_kinds->setCurrentIndex(0);

    m_add->setFlat(true);
    m_add->setEnabled(false);
    connect(m_add, &QPushButton::clicked, this, &RuleEditor::addRule);
}

std::string RuleEditor::translate(std::string_view text) const {
    return m_hooks.translate ? m_hooks.translate(text) : std::string(text);
}

void RuleEditor::load(const IniFile& settings) {
    m_rules.Load(settings);
    m_list->clear();
    for (const RuleLine& line : m_rules.lines()) m_list->addItem(QString::fromStdString(line.text));
}

void RuleEditor::save(IniFile& settings) const { m_rules.Save(settings); }

void RuleEditor::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The rules are read out under the line that explains them, in the language shown.
    m_list->setAccessibleName(m_label9->text());
}

void RuleEditor::numberChanged(const QString& text) { m_add->setEnabled(!text.isEmpty() && m_kinds->currentIndex() >= 0); }

void RuleEditor::addRule() {
    const std::string number = m_number->currentText().toStdString();
    if (number.empty()) return;
    try {
        RuleLine line = BuildRule(number, m_kinds->currentIndex(), m_kinds->currentText().toStdString(),
                                  [this](std::string_view text) { return translate(text); });
        m_list->addItem(QString::fromStdString(line.text));
        m_rules.Add(std::move(line));
    } catch (const InvalidRuleNumber& e) {
        if (m_hooks.showError) m_hooks.showError(QString::fromStdString(e.what()));
    }
}

void RuleEditor::deleteRule() {
    const int row = m_list->currentRow();
    if (row < 0 || m_list->selectedItems().isEmpty()) return;
    delete m_list->takeItem(row);
    m_rules.Delete(static_cast<std::size_t>(row));
}

void RuleEditor::clearRules() {
    m_list->clear();
    m_rules.Clear();
}

void RuleEditor::prepareContextMenu() {
    const bool any = m_list->count() > 0;
    m_delete->setEnabled(any && !m_list->selectedItems().isEmpty());
    m_clear->setEnabled(any);
}

bool RuleEditor::eventFilter(QObject* watched, QEvent* event) {
    // The number box takes digits only; Backspace is dropped too, while Delete, the
    // drop-down and typing over a selection still change the text.
    if ((watched == m_number || watched == m_number->lineEdit()) && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Backspace) return true;
        const QString text = key->text();
        if (!text.isEmpty() && text.at(0).isPrint() && !(text.size() == 1 && text.at(0) >= u'0' && text.at(0) <= u'9'))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace kalidrome
