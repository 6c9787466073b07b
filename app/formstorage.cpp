#include "app/formstorage.h"

#include "app/lifecycle.h"
#include "app/messagebox.h"
#include "app/screenfit.h"
#include "app/systemstore.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QEvent>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cmath>
#include <optional>
#include <stdexcept>

namespace {
QString g_storeDirectory;

// The store's layout version; a store written by an older layout is not restored.
constexpr int FormVersion = 0;

// The window placement's show commands and flags, with their Windows meanings.
constexpr int SwShowNormal = 1;
constexpr int SwShowMinimized = 2;
constexpr int SwShowMaximized = 3;
constexpr int WpfRestoreToMaximized = 2;

enum class Kind
{
    SpinValue,
    ItemIndex,
    ColumnWidth,
    Text,
    Checked
};

struct StoredProperty
{
    const char* control;
    const char* property;
    Kind kind;
};

// Stored and restored in this order.
constexpr StoredProperty StoredProperties[] = {
    {"OpDelay1", "Value", Kind::SpinValue},
    {"OpDelay2", "Value", Kind::SpinValue},
    {"OpDelay3", "Value", Kind::SpinValue},
    {"OpDelay4", "Value", Kind::SpinValue},
    {"OpDelay5", "Value", Kind::SpinValue},
    {"OpDelay6", "Value", Kind::SpinValue},
    {"OpDelay7", "Value", Kind::SpinValue},
    {"RGModel", "ItemIndex", Kind::ItemIndex},
    {"RGNumTrink", "ItemIndex", Kind::ItemIndex},
    {"CloseDelay", "Value", Kind::SpinValue},
    {"GridTrinketADDRESS", "Width", Kind::ColumnWidth},
    {"GridTrinketCODE", "Width", Kind::ColumnWidth},
    {"GridTrinketCODE_D", "Width", Kind::ColumnWidth},
    {"GridTrinketID_RECORD", "Width", Kind::ColumnWidth},
    {"GridTrinketID_TRINK", "Width", Kind::ColumnWidth},
    {"GridTrinketID_TRINK_D", "Width", Kind::ColumnWidth},
    {"GridTrinketPULT_NUM", "Width", Kind::ColumnWidth},
    {"SensMode1", "ItemIndex", Kind::ItemIndex},
    {"SensMode2", "ItemIndex", Kind::ItemIndex},
    {"SensMode3", "ItemIndex", Kind::ItemIndex},
    {"SensMode4", "ItemIndex", Kind::ItemIndex},
    {"SensMode5", "ItemIndex", Kind::ItemIndex},
    {"SensMode6", "ItemIndex", Kind::ItemIndex},
    {"SensMode7", "ItemIndex", Kind::ItemIndex},
    {"CBPort", "Text", Kind::Text},
    {"CBPort", "ItemIndex", Kind::ItemIndex},
    {"EnBypass", "Checked", Kind::Checked},
    {"CBDisExtCode", "Checked", Kind::Checked},
    {"CBAutoClose", "Checked", Kind::Checked},
    {"CBIndicOnlyAlarm", "Checked", Kind::Checked},
    {"CBNoMAT", "Checked", Kind::Checked},
};

[[noreturn]] void failedToCreateKey()
{
    throw std::runtime_error(QStringLiteral("Failed to create key %1").arg(TFormStorage::section()).toStdString());
}

// A stored value as text. INI files hand back an unquoted "a,b" as a list; that is still the
// text it was written as. Any other type is not ours.
std::optional<QString> readText(QSettings& store, const QString& name)
{
    const QVariant value = store.value(name);
    if (!value.isValid())
        return std::nullopt;
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    throw std::runtime_error(QStringLiteral("Invalid data type for '%1'").arg(name).toStdString());
}

int readInteger(QSettings& store, const QString& name, int fallback)
{
    const std::optional<QString> text = readText(store, name);
    if (!text)
        return fallback;
    bool ok = false;
    const int value = text->trimmed().toInt(&ok);
    return ok ? value : fallback;
}

// The value under the name with the screen-size suffix, or under the plain name when that is
// missing or empty.
QString readScreenValue(QSettings& store, const QString& name, const QString& suffix)
{
    const std::optional<QString> sized = readText(store, name + suffix);
    if (sized && !sized->trimmed().isEmpty())
        return *sized;
    return readText(store, name).value_or(QString());
}

// Four numbers separated by commas or blanks; each missing or unreadable one is its fallback.
std::array<int, 4> readFour(const QString& text, const std::array<int, 4>& fallback)
{
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    const QStringList parts = text.split(separators, Qt::SkipEmptyParts);
    std::array<int, 4> numbers = fallback;
    for (int i = 0; i < 4 && i < parts.size(); ++i) {
        bool ok = false;
        const int value = parts[i].toInt(&ok);
        if (ok)
            numbers[size_t(i)] = value;
    }
    return numbers;
}

QString four(int a, int b, int c, int d)
{
    return QStringLiteral("%1,%2,%3,%4").arg(a).arg(b).arg(c).arg(d);
}

QScreen* screen()
{
    return QGuiApplication::primaryScreen();
}

int pixelsPerInch()
{
    return screen() ? qRound(screen()->logicalDotsPerInch()) : 96;
}

QString screenSuffix()
{
    const QSize size = screen() ? screen()->geometry().size() : QSize();
    return QStringLiteral("(%1x%2)").arg(size.width()).arg(size.height());
}

bool isFixedSize(const QWidget* form)
{
    return form->minimumSize() == form->maximumSize();
}

// Each grid column is an object named by the grid's and the field's names; its Width is the
// designed width (the grid shares its width out in proportion), hidden columns included.
std::optional<int> columnWidth(QWidget* form, const char* control)
{
    const QObject* column = form->findChild<QObject*>(QString::fromLatin1(control));
    const QVariant width = column ? column->property("Width") : QVariant();
    return width.isValid() ? std::optional<int>(width.toInt()) : std::nullopt;
}

void setColumnWidth(QWidget* form, const char* control, int width)
{
    if (QObject* column = form->findChild<QObject*>(QString::fromLatin1(control)))
        column->setProperty("Width", width);
}

// An editable box's position describes its text, or is -1 for a typed text: a position left
// over from an earlier choice would bring that choice back over the typed name at the next start.
int itemIndexOf(QObject* control)
{
    if (auto* box = qobject_cast<QComboBox*>(control)) {
        const int index = box->currentIndex();
        return !box->isEditable() || box->itemText(index) == box->currentText() ? index : -1;
    }
    return control->property("ItemIndex").toInt();
}

void setItemIndex(QObject* control, int index)
{
    if (auto* box = qobject_cast<QComboBox*>(control)) {
        if (box->isEditable() && (index < 0 || index >= box->count())) {
            const QString text = box->currentText();
            box->setCurrentIndex(-1);
            box->setEditText(text);
        } else {
            box->setCurrentIndex(index);
        }
        return;
    }
    control->setProperty("ItemIndex", index);
}

std::optional<QString> propertyText(QWidget* form, const StoredProperty& item)
{
    if (item.kind == Kind::ColumnWidth) {
        const std::optional<int> width = columnWidth(form, item.control);
        return width ? std::optional<QString>(QString::number(*width)) : std::nullopt;
    }
    QObject* control = form->findChild<QObject*>(QString::fromLatin1(item.control));
    if (!control)
        return std::nullopt;
    switch (item.kind) {
    case Kind::SpinValue:
        if (auto* spin = qobject_cast<QSpinBox*>(control))
            return QString::number(spin->value());
        break;
    case Kind::ItemIndex:
        return QString::number(itemIndexOf(control));
    case Kind::Text:
        if (auto* box = qobject_cast<QComboBox*>(control))
            return box->currentText().trimmed();
        break;
    case Kind::Checked:
        if (auto* button = qobject_cast<QAbstractButton*>(control))
            return button->isChecked() ? QStringLiteral("True") : QStringLiteral("False");
        break;
    case Kind::ColumnWidth:
        break;
    }
    return std::nullopt;
}

void applyPropertyText(QWidget* form, const StoredProperty& item, const QString& stored)
{
    const QString text = stored.trimmed();
    if (item.kind == Kind::ColumnWidth) {
        bool ok = false;
        const int width = text.toInt(&ok);
        setColumnWidth(form, item.control, ok ? width : 0);
        return;
    }
    QObject* control = form->findChild<QObject*>(QString::fromLatin1(item.control));
    if (!control)
        return;
    switch (item.kind) {
    case Kind::SpinValue:
        if (auto* spin = qobject_cast<QSpinBox*>(control)) {
            bool ok = false;
            const double value = text.toDouble(&ok);
            // "inf" and "nan" read as doubles but are no numbers a spin box can hold.
            if (ok && std::isfinite(value))
                spin->setValue(int(std::nearbyint(qBound(double(spin->minimum()), value, double(spin->maximum())))));
        }
        break;
    case Kind::ItemIndex: {
        bool ok = false;
        const int index = text.toInt(&ok);
        setItemIndex(control, ok ? index : 0);
        break;
    }
    case Kind::Text:
        if (auto* box = qobject_cast<QComboBox*>(control))
            box->setEditText(text);
        break;
    case Kind::Checked:
        if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
                button->setChecked(true);
            else if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
                button->setChecked(false);
        }
        break;
    case Kind::ColumnWidth:
        break;
    }
}

QString valueName(const StoredProperty& item)
{
    return QString::fromLatin1(item.control) + QLatin1Char('_') + QString::fromLatin1(item.property);
}
} // namespace

TFormStorage::TFormStorage(QWidget* form)
    : QObject(form)
    , m_form(form)
{
    form->installEventFilter(this);
}

TFormStorage::~TFormStorage() = default;

void TFormStorage::formDestroying()
{
    if (!m_saved)
        RunGuarded([this] { save(true); });
}

void TFormStorage::setStoreDirectory(const QString& directory)
{
    g_storeDirectory = directory;
}

std::unique_ptr<QSettings> TFormStorage::openStore()
{
    if (g_storeDirectory.isEmpty())
        return SystemStore::open();
    return std::make_unique<QSettings>(g_storeDirectory + QStringLiteral("/Pralvek/TavroQM407.ini"),
                                       QSettings::IniFormat);
}

void TFormStorage::restore()
{
    m_saved = false;
    std::unique_ptr<QSettings> store = openStore();
    store->beginGroup(section());
    // Whatever happens below, a save is possible from now on.
    m_restored = true;
    if (readInteger(*store, QStringLiteral("FormVersion"), 0) < FormVersion)
        return;
    restorePlacement(*store);
    restoreProperties(*store);
}

void TFormStorage::restorePort()
{
    std::unique_ptr<QSettings> store = openStore();
    store->beginGroup(section());
    // A value of another type is reported by the restore when the window is shown, once.
    try {
        if (readInteger(*store, QStringLiteral("FormVersion"), 0) < FormVersion)
            return;
    } catch (const std::exception&) {
        return;
    }
    for (const StoredProperty& item : StoredProperties) {
        if (qstrcmp(item.control, "CBPort") != 0)
            continue;
        try {
            if (const std::optional<QString> text = readText(*store, valueName(item)))
                applyPropertyText(m_form, item, *text);
        } catch (const std::exception&) {
        }
    }
}

void TFormStorage::restorePlacement(QSettings& store)
{
    // While the window is being shown its frame may be known before its position accounts for
    // it: take the position move() works with, so a missing number keeps the window in place.
    const QRect frame(m_form->pos(), m_form->frameGeometry().size());
    readInteger(store, QStringLiteral("Flags"), 0); // Windows' own detail; only its type matters here
    const QString suffix = screenSuffix();
    const QString minMax = readScreenValue(store, QStringLiteral("MinMaxPos"), suffix);
    const QString normal = readScreenValue(store, QStringLiteral("NormPos"), suffix);
    const int presentPixelsPerInch = pixelsPerInch();
    const int storedPixelsPerInch = readInteger(store, QStringLiteral("PixelsPerInch"), presentPixelsPerInch);

    if ((!minMax.trimmed().isEmpty() || !normal.trimmed().isEmpty()) && storedPixelsPerInch == presentPixelsPerInch) {
        std::array<int, 4> rect
            = readFour(normal, {frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height()});
        if (isFixedSize(m_form)) {
            rect[2] = rect[0] + frame.width();
            rect[3] = rect[1] + frame.height();
        }
        const QRect wanted(QPoint(rect[0], rect[1]), QSize(rect[2] - rect[0], rect[3] - rect[1]));
        // A position left over from a screen that is gone would hide the window.
        bool onScreen = false;
        for (QScreen* each : QGuiApplication::screens())
            onScreen = onScreen || each->geometry().intersects(wanted);
        if (rect[0] < rect[2] && onScreen) {
            if (!isFixedSize(m_form))
                m_form->resize(m_form->size() + wanted.size() - frame.size());
            m_form->move(wanted.topLeft());
            ScreenFit::keepOnScreen(m_form);
        }
    }

    // A window that is not visible yet has no show command of its own.
    switch (readInteger(store, QStringLiteral("ShowCmd"), 0)) {
    case 2:
    case 6:
    case 7:
        // Shown first, then minimized: the taskbar entry exists and the window restores normal.
        QTimer::singleShot(0, m_form,
                           [form = m_form] { form->setWindowState(form->windowState() | Qt::WindowMinimized); });
        break;
    case 3:
        QTimer::singleShot(0, m_form, [form = m_form] { form->setWindowState(Qt::WindowMaximized); });
        break;
    default:
        break;
    }
}

void TFormStorage::restoreProperties(QSettings& store)
{
    for (const StoredProperty& item : StoredProperties) {
        // One unreadable value leaves its control as it is and never stops the others.
        try {
            if (const std::optional<QString> text = readText(store, valueName(item)))
                applyPropertyText(m_form, item, *text);
        } catch (const std::exception&) {
        }
    }
}

void TFormStorage::save(bool destroying)
{
    if (!m_restored)
        return;
    // One attempt per run: a store that can't be written is reported once.
    m_saved = true;
    std::unique_ptr<QSettings> store = openStore();
    if (!store->isWritable())
        failedToCreateKey();
    store->beginGroup(section());
    store->setValue(QStringLiteral("FormVersion"), QString::number(FormVersion));
    savePlacement(*store, destroying);
    saveProperties(*store);
    store->endGroup();
    store->sync();
    if (store->status() != QSettings::NoError)
        failedToCreateKey();
}

void TFormStorage::savePlacement(QSettings& store, bool destroying)
{
    const Qt::WindowStates state = m_form->windowState();
    const bool minimized = state.testFlag(Qt::WindowMinimized);
    const int showCmd = minimized             ? SwShowMinimized
        : state.testFlag(Qt::WindowMaximized) ? SwShowMaximized
                                              : SwShowNormal;
    const int flags = minimized && state.testFlag(Qt::WindowMaximized) ? WpfRestoreToMaximized : 0;
    const QRect frame = m_form->frameGeometry();
    const QString suffix = screenSuffix();
    // Minimized and maximized positions are the window system's; Windows reports -1 for "its
    // choice", which is what this window uses.
    const QString minMax = four(-1, -1, -1, -1);
    const QString normal = four(frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height());

    store.setValue(QStringLiteral("Flags"), QString::number(flags));
    store.setValue(QStringLiteral("ShowCmd"), QString::number(showCmd));
    store.setValue(QStringLiteral("PixelsPerInch"), QString::number(pixelsPerInch()));
    store.setValue(QStringLiteral("MinMaxPos") + suffix, minMax);
    store.setValue(QStringLiteral("MinMaxPos"), minMax);
    store.setValue(QStringLiteral("NormPos") + suffix, normal);
    store.setValue(QStringLiteral("NormPos"), normal);
    store.setValue(QStringLiteral("Visible"), destroying ? QStringLiteral("1") : QStringLiteral("0"));
}

void TFormStorage::saveProperties(QSettings& store)
{
    for (const StoredProperty& item : StoredProperties) {
        if (const std::optional<QString> text = propertyText(m_form, item))
            store.setValue(valueName(item), *text);
    }
}

bool TFormStorage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_form)
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::Show && !m_shown) {
        m_shown = true;
        RunGuarded([this] { restore(); });
        qCInfo(lcLifecycle, "main window shown, options restored");
    } else if (event->type() == QEvent::Close) {
        // The window's own close handler decides first; only a granted close saves.
        static_cast<QObject*>(m_form)->event(event);
        if (event->isAccepted())
            RunGuarded([this] { save(false); });
        return true;
    }
    return QObject::eventFilter(watched, event);
}
