#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "gui/qt/QtLook.h"
#include "gui/qt/QtPeers.h"

namespace gui::qt {
namespace {

// Shared by every control: position, state, font and cursor. W is the widget's class.
template <typename W, typename Model>
class ControlPeer : public WidgetPeer {
 public:
  ControlPeer(Model& model, W* widget) : model_(model), widget_(widget) {}
  ~ControlPeer() override { delete widget_.data(); }
  QWidget* Widget() const override { return widget_; }
  void Sync() override {
    if (!widget_) return;
    const gui::Rect r = model_.Bounds();
    widget_->setGeometry(r.Left, r.Top, r.Width, r.Height);
    widget_->setEnabled(model_.Enabled());
    widget_->setVisible(model_.Visible());
    widget_->setFont(ToQFont(model_.Font()));
    if (model_.HandCursor()) {
      widget_->setCursor(Qt::PointingHandCursor);
    } else {
      widget_->unsetCursor();
    }
    const QSignalBlocker quiet(widget_.data());
    SyncOwn(*widget_);
  }

 protected:
  virtual void SyncOwn(W& widget) = 0;
  Model& model_;
  QPointer<W> widget_;
};

class ButtonPeer : public ControlPeer<QPushButton, gui::Button> {
 public:
  ButtonPeer(gui::Button& model, QWidget* parent)
      : ControlPeer(model, new QPushButton(parent)), glyph_(model.Glyph()) {
    QObject::connect(widget_, &QPushButton::clicked, [&model] { model.UserClick(); });
    LoadGlyph();
  }

 protected:
  void SyncOwn(QPushButton& button) override {
    button.setText(ToQString(model_.Caption()));
    if (glyph_ != model_.Glyph()) {
      glyph_ = model_.Glyph();
      LoadGlyph();
    }
  }

 private:
  void LoadGlyph() {
    const QPixmap pixmap = Glyph(glyph_);
    widget_->setIcon(pixmap.isNull() ? QIcon() : QIcon(pixmap));
    widget_->setIconSize(QSize(16, 16));
  }
  std::string glyph_;
};

class ComboBoxPeer : public ControlPeer<QComboBox, gui::ComboBox> {
 public:
  ComboBoxPeer(gui::ComboBox& model, QWidget* parent) : ControlPeer(model, new QComboBox(parent)) {
    widget_->setEditable(true);
    widget_->setInsertPolicy(QComboBox::NoInsert);
    QObject::connect(widget_, &QComboBox::activated,
                     [&model](int index) { model.UserSelect(index); });
    QObject::connect(widget_->lineEdit(), &QLineEdit::textEdited, [this](const QString& text) {
      typing_ = true;
      model_.UserEdit(FromQString(text));
      typing_ = false;
    });
  }

 protected:
  void SyncOwn(QComboBox& combo) override {
    QStringList items;
    for (const auto& s : model_.Items()) items << ToQString(s);
    QStringList shown;
    for (int i = 0; i < combo.count(); ++i) shown << combo.itemText(i);
    if (items != shown) {
      combo.clear();
      combo.addItems(items);
    }
    // Clearing the selection also clears the field; while the user types over a selected
    // entry the field already shows the model's text, and clearing it would move the cursor.
    if (combo.currentIndex() != model_.ItemIndex() && !typing_) {
      combo.setCurrentIndex(model_.ItemIndex());
    }
    // With no entry selected the field keeps showing the model's text.
    if (combo.currentText() != ToQString(model_.Text())) {
      combo.setEditText(ToQString(model_.Text()));
    }
  }

 private:
  bool typing_ = false;  // inside the user's own edit of the field
};

class CheckBoxPeer : public ControlPeer<QCheckBox, gui::CheckBox> {
 public:
  CheckBoxPeer(gui::CheckBox& model, QWidget* parent) : ControlPeer(model, new QCheckBox(parent)) {
    // The model decides; the widget then shows what it decided.
    QObject::connect(widget_, &QCheckBox::clicked, [this, &model] {
      model.UserToggle();
      Sync();
    });
  }

 protected:
  void SyncOwn(QCheckBox& check) override {
    check.setText(ToQString(model_.Caption()));
    check.setChecked(model_.Checked());
  }
};

template <typename Model>
class LabelPeerBase : public ControlPeer<ClickLabel, Model> {
 public:
  LabelPeerBase(Model& model, QWidget* parent)
      : ControlPeer<ClickLabel, Model>(model, new ClickLabel(parent)) {
    this->widget_->setAutoFillBackground(true);
  }

 protected:
  void SyncColours(QLabel& label) {
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, ToQColor(this->model_.Font().Colour));
    palette.setColor(QPalette::Window, ToQColor(this->model_.BackColour()));
    label.setPalette(palette);
  }
};

class LabelPeer : public LabelPeerBase<gui::Label> {
 public:
  LabelPeer(gui::Label& model, QWidget* parent) : LabelPeerBase(model, parent) {
    widget_->onClick = [&model] { model.UserClick(); };
    widget_->setTextFormat(Qt::PlainText);
  }

 protected:
  void SyncOwn(ClickLabel& label) override {
    label.setText(ToQString(model_.Caption()));
    SyncColours(label);
    if (model_.AutoSize()) {
      label.resize(label.fontMetrics().horizontalAdvance(label.text()), model_.Bounds().Height);
    }
  }
};

class ImagePeer : public LabelPeerBase<gui::Image> {
 public:
  ImagePeer(gui::Image& model, QWidget* parent) : LabelPeerBase(model, parent) {
    widget_->setAutoFillBackground(false);
    widget_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  }

 protected:
  void SyncOwn(ClickLabel& label) override {
    if (picture_ == model_.Picture() && !label.pixmap().isNull()) return;
    picture_ = model_.Picture();
    label.setPixmap(Picture(picture_));
  }

 private:
  std::string picture_;
};

// A bar along the window's bottom with one sunken text panel.
class StatusBarPeer : public ControlPeer<QFrame, gui::StatusBar> {
 public:
  StatusBarPeer(gui::StatusBar& model, QWidget* parent)
      : ControlPeer(model, new QFrame(parent)), panel_(new QLabel(widget_)) {
    panel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel_->setTextFormat(Qt::PlainText);
  }
  QLabel* Panel() const { return panel_; }

 protected:
  void SyncOwn(QFrame& bar) override {
    const int height = bar.height();
    panel_->setGeometry(0, 2, std::min(model_.PanelWidth(), bar.width()), height - 2);
    panel_->setFont(bar.font());
    panel_->setText(ToQString(model_.PanelText()));
    const Qt::Alignment horizontal =
        model_.PanelAlignment() == gui::Alignment::Centre  ? Qt::AlignHCenter
        : model_.PanelAlignment() == gui::Alignment::Right ? Qt::AlignRight
                                                           : Qt::AlignLeft;
    panel_->setAlignment(horizontal | Qt::AlignVCenter);
    panel_->setObjectName(bar.objectName() + "Panel");
  }

 private:
  QLabel* panel_;
};

}  // namespace

void ClickLabel::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(event);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->pos());
  pressed_ = false;
  QLabel::mouseReleaseEvent(event);
  if (click && onClick) onClick();
}

std::unique_ptr<WidgetPeer> MakeControlPeer(gui::Control& control, QWidget* parent) {
  std::unique_ptr<WidgetPeer> peer;
  if (auto* b = dynamic_cast<gui::Button*>(&control)) {
    peer = std::make_unique<ButtonPeer>(*b, parent);
  } else if (auto* c = dynamic_cast<gui::ComboBox*>(&control)) {
    peer = std::make_unique<ComboBoxPeer>(*c, parent);
  } else if (auto* k = dynamic_cast<gui::CheckBox*>(&control)) {
    peer = std::make_unique<CheckBoxPeer>(*k, parent);
  } else if (auto* l = dynamic_cast<gui::Label*>(&control)) {
    peer = std::make_unique<LabelPeer>(*l, parent);
  } else if (auto* i = dynamic_cast<gui::Image*>(&control)) {
    peer = std::make_unique<ImagePeer>(*i, parent);
  } else if (auto* s = dynamic_cast<gui::StatusBar*>(&control)) {
    peer = std::make_unique<StatusBarPeer>(*s, parent);
  }
  if (peer) peer->Widget()->setObjectName(ToQString(control.Name()));
  return peer;
}

TimerPeer::TimerPeer(gui::Form& form, gui::Timer& timer) {
  qtimer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&qtimer_, &QTimer::timeout, [&form, &timer] {
    if (!form.Closed()) timer.Tick();
  });
}

void TimerPeer::Start(int intervalMs) {
  qtimer_.start(intervalMs);
}

void TimerPeer::Stop() {
  qtimer_.stop();
}

void ApplyTabOrder(const gui::Form& form) {
  std::vector<const gui::Control*> stops;
  for (const auto& c : form.Controls()) {
    auto* peer = dynamic_cast<WidgetPeer*>(c->GetPeer());
    if (!peer || !peer->Widget()) continue;
    QWidget* w = peer->Widget();
    if (c->TabOrder() >= 0) {
      stops.push_back(c.get());
    } else if (w->focusPolicy() != Qt::NoFocus) {
      w->setFocusPolicy(Qt::NoFocus);
    }
  }
  std::stable_sort(stops.begin(), stops.end(), [](const gui::Control* a, const gui::Control* b) {
    return a->TabOrder() < b->TabOrder();
  });
  for (std::size_t i = 1; i < stops.size(); ++i) {
    QWidget::setTabOrder(static_cast<WidgetPeer*>(stops[i - 1]->GetPeer())->Widget(),
                         static_cast<WidgetPeer*>(stops[i]->GetPeer())->Widget());
  }
}

}  // namespace gui::qt
