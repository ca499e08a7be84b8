#include <QPalette>
#include <QScreen>

#include "gui/qt/QtBackend.h"
#include "gui/qt/QtLook.h"
#include "gui/qt/QtPeers.h"

namespace gui::qt {

void FormWindow::closeEvent(QCloseEvent* event) {
  if (form_.Closed() || form_.RequestClose()) {
    event->accept();
  } else {
    event->ignore();
  }
}

void FormWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (syncing || !isVisible()) return;
  // The form's Left and Top are the outer position, frame included, as saved at close.
  const QRect frame = frameGeometry();
  form_.SetPosition(frame.x(), frame.y());
}

FormPeer::FormPeer(QtBackend& backend, gui::Form& form)
    : backend_(backend), form_(form), window_(new FormWindow(form)) {
  window_->setAttribute(Qt::WA_DeleteOnClose, false);
  window_->setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint);
  window_->setAutoFillBackground(true);
}

FormPeer::~FormPeer() {
  delete window_.data();
}

void FormPeer::Sync() {
  if (!window_) return;
  window_->syncing = true;
  window_->setWindowTitle(ToQString(form_.Caption()));
  if (form_.FixedSize()) {
    window_->setFixedSize(form_.ClientWidth(), form_.ClientHeight());
  } else {
    window_->resize(form_.ClientWidth(), form_.ClientHeight());
  }
  if (window_->frameGeometry().topLeft() != QPoint(form_.Left(), form_.Top())) {
    window_->move(form_.Left(), form_.Top());
  }
  QPalette palette = window_->palette();
  palette.setColor(QPalette::Window, ToQColor(form_.Colour()));
  palette.setColor(QPalette::Button, ToQColor(form_.Colour()));
  window_->setPalette(palette);
  window_->setFont(ToQFont(form_.Font()));
  const QIcon icon = WindowIcon(form_.Icon());
  if (!icon.isNull()) window_->setWindowIcon(icon);
  window_->syncing = false;
  if (form_.Closed() && !closedSeen_) {
    closedSeen_ = true;
    window_->hide();
    backend_.FormClosed(form_);
  }
}

}  // namespace gui::qt
