#include "app/registersearch.h"

#include "app/gridtrinket.h"
#include "app/registermodel.h"

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

TRegisterSearch::TRegisterSearch(TGridTrinket* grid, QWidget* client, QWidget* window)
    : QObject(window)
    , m_grid(grid)
{
    setObjectName(QStringLiteral("RegisterSearch"));
    // The free space of the button column between "Установить параметры..." and "Стереть...".
    EdSearch = new QLineEdit(client);
    EdSearch->setObjectName(QStringLiteral("EdSearch"));
    EdSearch->setGeometry(568, 202, 165, 21);
    EdSearch->setPlaceholderText(QStringLiteral("Поиск (Ctrl+F)"));
    EdSearch->setMaxLength(80);
    EdSearch->setClearButtonEnabled(true);
    // Reached by Ctrl+F and the mouse; Tab keeps its round through the grid and the buttons.
    EdSearch->setFocusPolicy(Qt::ClickFocus);
    EdSearch->installEventFilter(this);
    LbFound = new QLabel(client);
    LbFound->setObjectName(QStringLiteral("LbFound"));
    LbFound->setGeometry(568, 227, 165, 16);

    ActFind = new QAction(QStringLiteral("Поиск"), window);
    ActFind->setObjectName(QStringLiteral("ActFind"));
    ActFind->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    window->addAction(ActFind);
    connect(ActFind, &QAction::triggered, EdSearch, [this] {
        EdSearch->setFocus(Qt::ShortcutFocusReason);
        EdSearch->selectAll();
    });

    connect(EdSearch, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_grid->setSearchText(text);
        updateStatus();
    });
    // The count follows additions and deletions too.
    QAbstractItemModel* shown = m_grid->searchModel();
    connect(shown, &QAbstractItemModel::rowsInserted, this, &TRegisterSearch::scheduleStatus);
    connect(shown, &QAbstractItemModel::rowsRemoved, this, &TRegisterSearch::scheduleStatus);
    connect(shown, &QAbstractItemModel::modelReset, this, &TRegisterSearch::scheduleStatus);
    // A changed record that leaves or joins the search comes as a new layout.
    connect(shown, &QAbstractItemModel::layoutChanged, this, &TRegisterSearch::scheduleStatus);
}

bool TRegisterSearch::eventFilter(QObject* watched, QEvent* event)
{
    // Ctrl+X ends the program wherever the focus is: the field leaves the key to the window's
    // shortcut, and cuts by Shift+Delete and its context menu. During a trinket wait it does
    // nothing here either.
    if (watched == EdSearch && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->keyCombination() == QKeyCombination(Qt::ControlModifier, Qt::Key_X)) {
            event->ignore();
            return true;
        }
    }
    if (watched == EdSearch && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        // Esc empties the field; on an empty field it goes back to the grid.
        if (EdSearch->text().isEmpty())
            m_grid->setFocus(Qt::OtherFocusReason);
        else
            EdSearch->clear();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void TRegisterSearch::scheduleStatus()
{
    if (m_statusScheduled)
        return;
    m_statusScheduled = true;
    QMetaObject::invokeMethod(this, &TRegisterSearch::updateStatus, Qt::QueuedConnection);
}

void TRegisterSearch::updateStatus()
{
    m_statusScheduled = false;
    const TRegisterSearchModel* shown = m_grid->searchModel();
    if (shown->searchText().isEmpty())
        LbFound->clear();
    else
        LbFound->setText(
            QStringLiteral("найдено %1 из %2").arg(shown->rowCount()).arg(shown->sourceModel()->rowCount()));
}
