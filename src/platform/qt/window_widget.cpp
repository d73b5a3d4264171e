#include "platform/qt/window_widget.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <cmath>

#include "platform/qt/control_rows.h"
#include "platform/presenter.h"

namespace qm::platform {
namespace {

constexpr int kShowPollMs = 10;
constexpr int kShowAtLatestMs = 250;
constexpr int kWidestTextChars = 40;

QString Text(const std::string& text) { return QString::fromStdString(text); }

// Static texts show "&" as the runtime does: "&&" is one "&", a single one
// only marks an accelerator.
QString WithoutAccelerator(const std::string& text) {
  const QString marked = Text(text);
  QString shown;
  for (qsizetype index = 0; index < marked.size(); ++index) {
    if (marked[index] == '&') {
      if (index + 1 < marked.size() && marked[index + 1] == '&') {
        shown += '&';
        ++index;
      }
      continue;
    }
    shown += marked[index];
  }
  return shown;
}

Qt::Alignment AlignmentOf(char letter) {
  switch (letter) {
    case 'R':
    case 'D': return Qt::AlignRight | Qt::AlignVCenter;
    case 'C': return Qt::AlignHCenter | Qt::AlignVCenter;
    default: return Qt::AlignLeft | Qt::AlignVCenter;
  }
}

// Dialog units to pixels: four units to the font's average character.
int DialogUnitsToPixels(int units, const QFontMetrics& metrics) {
  return units * metrics.averageCharWidth() / 4;
}

// The widest value a display picture shows, in characters ("@s50" → 50).
int PictureChars(const std::string& picture) {
  int chars = 0;
  for (char letter : picture) {
    if (std::isdigit(static_cast<unsigned char>(letter))) {
      chars = chars * 10 + (letter - '0');
    } else if (chars > 0) {
      break;
    }
  }
  return std::clamp(chars == 0 ? 20 : chars, 6, kWidestTextChars);
}

int CellIndentRole() { return Qt::UserRole + 1; }

// A list with a group header sits in a frame with the header above it; the
// frame is what the window lays out and shows.
QWidget* ShownPart(QWidget* control) {
  if (auto frame = control->property("qm_frame"); frame.isValid()) {
    if (auto* widget = qobject_cast<QWidget*>(frame.value<QObject*>())) return widget;
  }
  return control;
}

// Draws a list cell with its text moved in by its column's indent; the
// cell's background still fills the whole cell.
class IndentDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const int indent = index.data(CellIndentRole()).toInt();
    if (indent == 0) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const QString text = cell.text;
    cell.text.clear();
    QStyle* style = cell.widget ? cell.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, cell.widget);
    QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, cell.widget);
    if (cell.displayAlignment & Qt::AlignRight) {
      area.adjust(0, 0, -indent, 0);
    } else {
      area.adjust(indent, 0, 0, 0);
    }
    const QPalette::ColorRole role = cell.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text;
    style->drawItemText(painter, area, int(cell.displayAlignment),
                        cell.palette, cell.state & QStyle::State_Enabled,
                        cell.fontMetrics.elidedText(text, Qt::ElideRight, area.width()), role);
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.rwidth() += index.data(CellIndentRole()).toInt();
    return size;
  }
};

QIcon StandardIcon(const std::string& designator) {
  if (designator == kIconQuestion) return QApplication::style()->standardIcon(QStyle::SP_MessageBoxQuestion);
  if (designator == kIconStop) return QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical);
  return {};
}

}  // namespace

QIcon IconFor(const std::string& name) {
  if (name.empty()) return {};
  if (QIcon standard = StandardIcon(name); !standard.isNull()) return standard;
  QString base = Text(name).section('/', -1).section('\\', -1);
  base = base.left(base.lastIndexOf('.') < 0 ? base.size() : base.lastIndexOf('.')).toLower();
  const QString resource = QStringLiteral(":/icons/%1.svg").arg(base);
  if (QFile::exists(resource)) return QIcon(resource);
  if (QFile::exists(Text(name))) return QIcon(Text(name));
  return {};
}

WindowWidget::WindowWidget(std::shared_ptr<Window> window, QWidget* owner)
    : QMainWindow(owner, Qt::Window), window_(std::move(window)) {
  const WindowDef& definition = window_->Definition();
  setObjectName(Text(definition.id));
  setAttribute(Qt::WA_DeleteOnClose, false);
  setWindowTitle(Text(window_->ControlText(0)));
  setWindowIcon(IconFor(definition.icon));
  if (definition.modal && owner) setWindowModality(Qt::WindowModal);
  BuildMenus();
  BuildToolbar();
  BuildBody();
  known_position_ = QPoint(definition.x, definition.y);
  known_size_ = QSize(definition.width, definition.height);
  if (!known_position_.isNull()) move(known_position_);
  if (known_size_.width() > 0 && known_size_.height() > 0) {
    resize(known_size_.expandedTo(minimumSizeHint()));
  } else if (definition.is_frame) {
    resize(QSize(520, 140).expandedTo(minimumSizeHint()));
  }
  for (const auto& control : definition.controls) SyncControl(control);
}

WindowWidget::~WindowWidget() = default;

void WindowWidget::BuildMenus() {
  for (const auto& control : window_->Definition().controls) {
    QMenu* parent_menu = nullptr;
    if (auto found = menus_.find(control.parent); found != menus_.end()) parent_menu = found->second;
    switch (control.kind) {
      case ControlKind::kMenu: {
        QMenu* menu = parent_menu ? parent_menu->addMenu(Text(control.text))
                                  : menuBar()->addMenu(Text(control.text));
        menu->menuAction()->setStatusTip(Text(control.help));
        menus_[control.number] = menu;
        actions_[control.number] = menu->menuAction();
        break;
      }
      case ControlKind::kMenuItem: {
        QAction* action = parent_menu ? parent_menu->addAction(Text(control.text))
                                      : menuBar()->addAction(Text(control.text));
        action->setStatusTip(Text(control.help));
        const int number = control.number;
        connect(action, &QAction::triggered, this, [this, number] {
          window_->Post({kEventAccepted, number, 0});
        });
        actions_[number] = action;
        break;
      }
      case ControlKind::kSeparator:
        if (parent_menu) parent_menu->addSeparator();
        break;
      default: break;
    }
  }
}

void WindowWidget::BuildToolbar() {
  QToolBar* toolbar = nullptr;
  std::vector<QWidget*> buttons;
  for (const auto& control : window_->Definition().controls) {
    if (control.kind != ControlKind::kToolButton) continue;
    if (!toolbar) {
      toolbar = addToolBar(QStringLiteral("Toolbar"));
      toolbar->setObjectName(QStringLiteral("toolbar"));
      toolbar->setMovable(false);
      toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
      toolbar->setIconSize(QSize(24, 24));
    }
    QAction* action = toolbar->addAction(IconFor(control.icon), Text(control.text));
    action->setStatusTip(Text(control.help));
    const int number = control.number;
    connect(action, &QAction::triggered, this, [this, number] {
      window_->Post({kEventAccepted, number, 0});
    });
    actions_[number] = action;
    if (QWidget* button = toolbar->widgetForAction(action)) buttons.push_back(button);
  }
  // The toolbar's buttons are all as wide as the widest.
  int widest = 0;
  for (QWidget* button : buttons) widest = std::max(widest, button->sizeHint().width());
  for (QWidget* button : buttons) button->setMinimumWidth(widest);
  bool has_help = false;
  for (const auto& control : window_->Definition().controls) has_help = has_help || !control.help.empty();
  if (window_->Definition().is_frame || has_help) statusBar();
}

void WindowWidget::BuildBody() {
  auto* body = new QWidget(this);
  auto* rows_layout = new QVBoxLayout(body);
  const auto rows = ArrangeControls(window_->Definition());
  bool any_stretch = false;
  for (const auto& row : rows) {
    auto* row_layout = new QHBoxLayout;
    if (row.is_button_row) {
      if (!any_stretch) rows_layout->addStretch(1);
      row_layout->addStretch(1);
    }
    for (int number : row.controls) {
      const ControlDef* definition = window_->FindControl(number);
      if (!definition) continue;
      QWidget* widget = MakeControl(*definition);
      controls_[number] = widget;
      const bool grows = definition->kind == ControlKind::kString || definition->kind == ControlKind::kEntry ||
                         definition->kind == ControlKind::kList;
      row_layout->addWidget(ShownPart(widget), grows ? 1 : 0);
    }
    if (!row.is_button_row && !row.stretches) {
      bool grows = false;
      for (int number : row.controls) {
        const ControlDef* definition = window_->FindControl(number);
        grows = grows || (definition && (definition->kind == ControlKind::kString ||
                                         definition->kind == ControlKind::kEntry));
      }
      if (!grows) row_layout->addStretch(1);
    }
    rows_layout->addLayout(row_layout, row.stretches ? 1 : 0);
    any_stretch = any_stretch || row.stretches;
  }
  setCentralWidget(body);
}

QWidget* WindowWidget::MakeControl(const ControlDef& control) {
  QWidget* widget = nullptr;
  const int number = control.number;
  switch (control.kind) {
    case ControlKind::kPrompt: widget = new QLabel(WithoutAccelerator(control.text)); break;
    case ControlKind::kString: {
      auto* label = new QLabel;
      label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
      label->setTextInteractionFlags(Qt::TextSelectableByMouse);
      label->setMinimumWidth(label->fontMetrics().averageCharWidth() * PictureChars(control.picture));
      widget = label;
      break;
    }
    case ControlKind::kEntry: {
      auto* entry = new QLineEdit;
      connect(entry, &QLineEdit::textEdited, this, [this, number](const QString& text) {
        syncing_ = true;
        window_->SetControlText(number, text.toStdString());
        syncing_ = false;
      });
      connect(entry, &QLineEdit::editingFinished, this, [this, number] {
        window_->Post({kEventAccepted, number, 0});
      });
      widget = entry;
      break;
    }
    case ControlKind::kButton: {
      auto* button = new QPushButton(IconFor(control.icon), Text(control.text));
      button->setDefault(control.is_default);
      button->setAutoDefault(false);
      connect(button, &QPushButton::clicked, this, [this, number] {
        window_->Post({kEventAccepted, number, 0});
      });
      widget = button;
      break;
    }
    case ControlKind::kList: widget = MakeList(control); break;
    case ControlKind::kImage: {
      auto* image = new QLabel;
      image->setAlignment(Qt::AlignTop | Qt::AlignLeft);
      widget = image;
      break;
    }
    default: widget = new QWidget; break;
  }
  widget->setObjectName(QString::number(number));
  return widget;
}

QTreeWidget* WindowWidget::MakeList(const ControlDef& control) {
  auto* list = new QTreeWidget;
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setAllColumnsShowFocus(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setItemDelegate(new IndentDelegate(list));
  list->header()->setStretchLastSection(true);
  list->setMinimumHeight(list->fontMetrics().height() * 8);
  const int number = control.number;
  if (auto format = ParseListFormat(control.picture)) {
    QStringList headers;
    for (const auto& column : format->columns) headers << Text(column.header);
    list->setHeaderLabels(headers);
    const QFontMetrics metrics = list->fontMetrics();
    for (int index = 0; index < static_cast<int>(format->columns.size()); ++index) {
      const ListColumn& column = format->columns[static_cast<std::size_t>(index)];
      list->headerItem()->setTextAlignment(index, AlignmentOf(column.header_alignment));
      // The header's own indent, drawn by the style, is approximated by padding.
      if (column.header_indent > 0) {
        const QString padding(column.header_indent, ' ');
        const QString header = Text(column.header);
        list->headerItem()->setText(index, column.header_alignment == 'R' ? header + padding : padding + header);
      }
      list->setColumnWidth(index, std::max(DialogUnitsToPixels(column.width, metrics), metrics.averageCharWidth() * 3));
      list->header()->setSectionResizeMode(index, column.resizable ? QHeaderView::Interactive : QHeaderView::Fixed);
    }
    if (!format->group_header.empty()) list->setToolTip(Text(format->group_header));
    list_formats_[number] = *format;
  } else {
    list->setHeaderHidden(true);
  }
  connect(list, &QTreeWidget::currentItemChanged, this, [this, list, number](QTreeWidgetItem* item) {
    if (syncing_ || !item) return;
    const int row = list->indexOfTopLevelItem(item) + 1;
    syncing_ = true;
    window_->SetSelectedRow(number, row);
    syncing_ = false;
    window_->Post({kEventNewSelection, number, 0});
  });
  connect(list, &QTreeWidget::itemActivated, this, [this, number] {
    window_->Post({kEventAccepted, number, 0});
  });
  // The program keeps its own thumb for a list it fills a page at a time:
  // a drag reports where the thumb is, 0 to 100, and the program moves.
  connect(list->verticalScrollBar(), &QScrollBar::sliderMoved, this, [this, list, number](int value) {
    const QScrollBar* bar = list->verticalScrollBar();
    const int span = bar->maximum() - bar->minimum();
    const long thumb = span > 0 ? std::lround(100.0 * (value - bar->minimum()) / span) : 50;
    window_->SetProperty(kPropListThumb, thumb, number);
    window_->Post({kEventListScrollDrag, number, 0});
  });
  list->setProperty("qm_list", number);
  list->viewport()->setProperty("qm_list", number);
  list->installEventFilter(this);
  list->viewport()->installEventFilter(this);
  if (auto found = list_formats_.find(number); found != list_formats_.end() && !found->second.group_header.empty()) {
    // The group's header stands above its columns.
    auto* frame = new QWidget;
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto* caption = new QLabel(Text(found->second.group_header));
    caption->setObjectName(QStringLiteral("group"));
    caption->setAlignment(Qt::AlignHCenter);
    QFont bold = caption->font();
    bold.setBold(true);
    caption->setFont(bold);
    layout->addWidget(caption);
    layout->addWidget(list);
    list->setParent(frame);
    list->setProperty("qm_frame", QVariant::fromValue(static_cast<QObject*>(frame)));
  }
  return list;
}

QWidget* WindowWidget::Control(int control) const {
  auto found = controls_.find(control);
  return found == controls_.end() ? nullptr : found->second;
}

QAction* WindowWidget::Action(int control) const {
  auto found = actions_.find(control);
  return found == actions_.end() ? nullptr : found->second;
}

void WindowWidget::Sync(int control) {
  if (control == 0) {
    SyncWindow();
    return;
  }
  if (const ControlDef* definition = window_->FindControl(control)) SyncControl(*definition);
}

void WindowWidget::SyncWindow() {
  if (syncing_) return;
  syncing_ = true;
  setWindowTitle(Text(window_->ControlText(0)));
  SyncFont(*this, 0);
  const QPoint position(window_->PropertyNumber(kPropXPos), window_->PropertyNumber(kPropYPos));
  const QSize size(window_->PropertyNumber(kPropWidth), window_->PropertyNumber(kPropHeight));
  const bool maximized = window_->PropertyNumber(kPropMaximize) != 0;
  const bool minimized = window_->PropertyNumber(kPropIconize) != 0;
  if (position != known_position_) {
    known_position_ = position;
    move(position);
  }
  if (size != known_size_ && size.width() > 0 && size.height() > 0) {
    known_size_ = size;
    setMinimumSize(minimumSizeHint());
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(size.expandedTo(minimumSizeHint()));
  }
  if (shown_) {
    if (minimized && !isMinimized()) {
      showMinimized();
    } else if (maximized && !isMaximized() && !minimized) {
      showMaximized();
    } else if (!maximized && !minimized && (isMaximized() || isMinimized())) {
      showNormal();
    }
    const bool resizable = !window_->Property(kPropResize).empty();
    if (resizable) {
      setMinimumSize(minimumSizeHint());
      setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else if (!isMaximized() && !isMinimized()) {
      setFixedSize(this->size());
    }
  }
  syncing_ = false;
}

void WindowWidget::SyncControl(const ControlDef& control) {
  const int number = control.number;
  if (QAction* action = Action(number)) {
    action->setText(Text(window_->ControlText(number)));
    action->setEnabled(window_->ControlEnabled(number));
    action->setVisible(window_->ControlVisible(number));
    action->setToolTip(Text(window_->Property(kPropTip, number).empty()
                                ? WithoutAccelerator(window_->ControlText(number)).toStdString()
                                : window_->Property(kPropTip, number)));
    return;
  }
  QWidget* widget = Control(number);
  if (!widget) return;
  const bool was_syncing = syncing_;
  syncing_ = true;
  widget->setEnabled(window_->ControlEnabled(number));
  const std::string tip = window_->Property(kPropTip, number);
  widget->setToolTip(Text(tip));
  switch (control.kind) {
    case ControlKind::kPrompt:
      static_cast<QLabel*>(widget)->setText(WithoutAccelerator(window_->ControlText(number)));
      break;
    case ControlKind::kString: static_cast<QLabel*>(widget)->setText(Text(window_->ControlShows(number))); break;
    case ControlKind::kEntry: {
      auto* entry = static_cast<QLineEdit*>(widget);
      const QString text = Text(window_->ControlText(number));
      if (entry->text() != text) entry->setText(text);
      break;
    }
    case ControlKind::kButton: {
      auto* button = static_cast<QPushButton*>(widget);
      button->setText(Text(window_->ControlText(number)));
      button->setIcon(IconFor(window_->Property(kPropIcon, number)));
      break;
    }
    case ControlKind::kList: SyncList(*static_cast<QTreeWidget*>(widget), control); break;
    case ControlKind::kImage: {
      const QIcon icon = IconFor(window_->Property(kPropIcon, number));
      static_cast<QLabel*>(widget)->setPixmap(icon.isNull() ? QPixmap() : icon.pixmap(32, 32));
      break;
    }
    default: break;
  }
  SyncFont(*widget, number);
  ShownPart(widget)->setVisible(window_->ControlVisible(number));
  syncing_ = was_syncing;
}

void WindowWidget::SyncList(QTreeWidget& list, const ControlDef& control) {
  const int number = control.number;
  const auto rows = window_->ListRows(number);
  const ListFormat* format = nullptr;
  if (auto found = list_formats_.find(number); found != list_formats_.end()) format = &found->second;
  int columns = format ? static_cast<int>(format->columns.size()) : 1;
  for (const auto& row : rows) columns = std::max(columns, static_cast<int>(row.size()));
  if (list.columnCount() < columns) list.setColumnCount(columns);

  const QFontMetrics metrics = list.fontMetrics();
  auto same = [&] {
    if (list.topLevelItemCount() != static_cast<int>(rows.size())) return false;
    for (int index = 0; index < list.topLevelItemCount(); ++index) {
      const auto& row = rows[static_cast<std::size_t>(index)];
      for (int column = 0; column < columns; ++column) {
        const std::string cell = column < static_cast<int>(row.size()) ? row[static_cast<std::size_t>(column)] : "";
        if (list.topLevelItem(index)->text(column) != Text(cell).trimmed()) return false;
      }
    }
    return true;
  };
  if (!same()) {
    list.clear();
    QList<QTreeWidgetItem*> items;
    for (const auto& row : rows) {
      auto* item = new QTreeWidgetItem;
      for (int column = 0; column < static_cast<int>(row.size()); ++column) {
        // Cells come formatted through their pictures; the padding that a
        // picture adds is the column's alignment here.
        item->setText(column, Text(row[static_cast<std::size_t>(column)]).trimmed());
        if (format && column < static_cast<int>(format->columns.size())) {
          const ListColumn& definition = format->columns[static_cast<std::size_t>(column)];
          item->setTextAlignment(column, AlignmentOf(definition.alignment));
          item->setData(column, CellIndentRole(), DialogUnitsToPixels(definition.indent, metrics));
        }
      }
      items << item;
    }
    list.addTopLevelItems(items);
    // Declared widths are for the runtime's narrower dialog font: a column
    // grows to show its cells whole.
    for (int column = 0; column + 1 < list.columnCount(); ++column) {
      const int needed = std::max(static_cast<QAbstractItemView&>(list).sizeHintForColumn(column), list.header()->sectionSizeHint(column));
      if (list.columnWidth(column) < needed) list.setColumnWidth(column, needed);
    }
  }
  ReportRowsShown(list, number);
  const int selected = window_->SelectedRow(number);
  QTreeWidgetItem* current = selected >= 1 ? list.topLevelItem(selected - 1) : nullptr;
  if (list.currentItem() != current) {
    list.setCurrentItem(current);
    if (current) list.scrollToItem(current);
  }
}

void WindowWidget::SyncFont(QWidget& widget, int control) {
  const std::string name = window_->Property(kPropFontName, control);
  const std::string size = window_->Property(kPropFontSize, control);
  const std::string style = window_->Property(kPropFontStyle, control);
  const std::string colour = window_->Property(kPropFontColor, control);
  if (name.empty() && size.empty() && style.empty() && colour.empty()) {
    if (widget.property("qm_font").toBool()) {
      widget.setFont(QFont());
      widget.setPalette(QPalette());
      widget.setProperty("qm_font", false);
    }
    return;
  }
  QFont font = control == 0 ? QApplication::font() : widget.parentWidget() ? widget.parentWidget()->font() : widget.font();
  if (!name.empty()) font.setFamily(Text(name));
  if (const int points = window_->PropertyNumber(kPropFontSize, control); points > 0) font.setPointSize(points);
  if (!style.empty()) {
    const int value = window_->PropertyNumber(kPropFontStyle, control);
    const int weight = value & 0xFFF;
    if (weight > 0) font.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 100, 900)));
    font.setItalic(value & kFontStyleItalic);
    font.setUnderline(value & kFontStyleUnderline);
    font.setStrikeOut(value & kFontStyleStrikeOut);
  }
  widget.setFont(font);
  if (!colour.empty()) {
    const int value = window_->PropertyNumber(kPropFontColor, control);
    if (value >= 0) {
      const QColor color(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
      QPalette palette = widget.palette();
      palette.setColor(QPalette::WindowText, color);
      palette.setColor(QPalette::Text, color);
      palette.setColor(QPalette::ButtonText, color);
      widget.setPalette(palette);
    }
  }
  widget.setProperty("qm_font", true);
}

void WindowWidget::ShowWhenReady() {
  if (shown_ || show_timer_) return;
  show_timer_ = new QTimer(this);
  connect(show_timer_, &QTimer::timeout, this, [this] {
    show_waited_ms_ += kShowPollMs;
    if (window_->WaitingForEvent() || show_waited_ms_ >= kShowAtLatestMs || !window_->IsOpen()) ShowNow();
  });
  show_timer_->start(kShowPollMs);
}

void WindowWidget::ReportRowsShown(const QTreeWidget& list, int control) {
  int row_height = list.topLevelItemCount() > 0 ? list.visualItemRect(list.topLevelItem(0)).height() : 0;
  if (row_height <= 0) row_height = list.fontMetrics().height() + 2;
  const int rows = std::max(list.viewport()->height() / row_height, 1);
  if (window_->PropertyNumber(kPropListItems, control) != rows) {
    window_->SetProperty(kPropListItems, long{rows}, control);
  }
}

void WindowWidget::PostListKey(int control, int key_code) {
  const std::vector<int> alerts = window_->AlertKeys(control);
  if (std::find(alerts.begin(), alerts.end(), key_code) != alerts.end()) {
    window_->Post({kEventAlertKey, control, key_code});
  }
}

bool WindowWidget::eventFilter(QObject* watched, QEvent* event) {
  const QVariant list_number = watched->property("qm_list");
  if (!list_number.isValid()) return QMainWindow::eventFilter(watched, event);
  const int number = list_number.toInt();
  auto* list = qobject_cast<QTreeWidget*>(Control(number));
  if (!list) return QMainWindow::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::Resize:
      if (watched == list->viewport()) ReportRowsShown(*list, number);
      break;
    case QEvent::ContextMenu: {
      const auto* menu = static_cast<QContextMenuEvent*>(event);
      if (menu->reason() == QContextMenuEvent::Mouse && watched == list->viewport()) {
        QTreeWidgetItem* item = list->itemAt(menu->pos());
        const long row = item ? list->indexOfTopLevelItem(item) + 1 : 0;
        window_->SetProperty(kPropListMouseRow, row, number);
        PostListKey(number, kKeyMouseRight);
      } else {
        PostListKey(number, kKeyApps);
      }
      return true;
    }
    case QEvent::KeyPress:
      if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Menu) {
        PostListKey(number, kKeyApps);
        return true;
      }
      break;
    default: break;
  }
  return QMainWindow::eventFilter(watched, event);
}

void WindowWidget::ShowNow() {
  if (show_timer_) {
    show_timer_->stop();
    show_timer_->deleteLater();
    show_timer_ = nullptr;
  }
  if (shown_ || closing_by_program_) return;
  shown_ = true;
  if (window_->PropertyNumber(kPropMaximize) != 0) {
    showMaximized();
  } else if (window_->PropertyNumber(kPropIconize) != 0) {
    showMinimized();
  } else {
    show();
  }
  SyncWindow();
  ReportGeometry();
}

void WindowWidget::CloseByProgram() {
  closing_by_program_ = true;
  // Windows this one owns outlive it as windows of their own.
  for (QObject* child : children()) {
    if (auto* owned = dynamic_cast<WindowWidget*>(child)) {
      const QPoint position = owned->pos();
      owned->setParent(nullptr, Qt::Window);
      owned->move(position);
      if (owned->HasBeenShown()) owned->show();
    }
  }
  close();
  deleteLater();
}

void WindowWidget::SetWaitCursor(bool wait) {
  if (wait) {
    setCursor(Qt::WaitCursor);
  } else {
    unsetCursor();
  }
}

void WindowWidget::FocusControl(int control) {
  if (QWidget* widget = Control(control)) widget->setFocus(Qt::OtherFocusReason);
}

void WindowWidget::closeEvent(QCloseEvent* event) {
  if (closing_by_program_) {
    event->accept();
    return;
  }
  // The close box asks; the program's loop decides.
  event->ignore();
  window_->Post({kEventCloseWindow, 0, 0});
}

void WindowWidget::ReportGeometry() {
  if (!shown_ || syncing_ || isMaximized() || isMinimized() || isFullScreen()) return;
  syncing_ = true;
  if (pos() != known_position_) {
    known_position_ = pos();
    window_->SetProperty(kPropXPos, long{known_position_.x()});
    window_->SetProperty(kPropYPos, long{known_position_.y()});
  }
  if (size() != known_size_) {
    known_size_ = size();
    window_->SetProperty(kPropWidth, long{known_size_.width()});
    window_->SetProperty(kPropHeight, long{known_size_.height()});
  }
  syncing_ = false;
}

void WindowWidget::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  ReportGeometry();
}

void WindowWidget::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  ReportGeometry();
}

void WindowWidget::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !shown_ || syncing_) return;
  syncing_ = true;
  const bool maximized = isMaximized();
  const bool minimized = isMinimized();
  if ((window_->PropertyNumber(kPropMaximize) != 0) != maximized) window_->SetProperty(kPropMaximize, maximized ? 1L : 0L);
  if ((window_->PropertyNumber(kPropIconize) != 0) != minimized) window_->SetProperty(kPropIconize, minimized ? 1L : 0L);
  syncing_ = false;
}

}  // namespace qm::platform
