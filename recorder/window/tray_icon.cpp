#include "tray_icon.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QMenu>
#include <QWidget>

namespace brannock {

TTrayIcon::TTrayIcon(QWidget* window, QMenu* popup, TrayAvailable trayAvailable)
    : QObject(window), m_window(window), m_popup(popup), m_trayAvailable(std::move(trayAvailable)) {
  m_trayWasAvailable = m_trayAvailable();
  m_leftPressTimer.setSingleShot(true);
  connect(&m_leftPressTimer, &QTimer::timeout, this, &TTrayIcon::PopupMenu);
  // The icon's own context menu is what every kind of notification area
  // shows for a right press (some show nothing else).
  m_icon.setContextMenu(popup);
  connect(&m_icon, &QSystemTrayIcon::activated, this, &TTrayIcon::Activate);
  window->installEventFilter(this);
}

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_window && event->type() == QEvent::WindowStateChange) {
    if (m_window->isMinimized())
      ApplicationMinimized();
    else
      ApplicationRestored();
  }
  return QObject::eventFilter(watched, event);
}

void TTrayIcon::ApplicationMinimized() {
  if (!Minimized || m_shown) return;
  // Without a notification area the taskbar entry is the only way back.
  if (!m_trayAvailable()) return;
  ShowIcon();
  // Hiding from inside the state change confuses some window managers; leave
  // it to the event loop.
  if (HideOnTaskBar)
    QTimer::singleShot(0, m_window, [this] {
      if (m_shown && m_window->isMinimized()) m_window->hide();
    });
}

void TTrayIcon::ApplicationRestored() {
  if (!Minimized) return;
  HideIcon();
  m_window->raise();
  m_window->activateWindow();
}

void TTrayIcon::CheckTray() {
  const bool available = m_trayAvailable();
  if (m_shown && !available) {
    HideIcon();
    if (m_window->isHidden()) m_window->showMinimized();
  } else if (!m_shown && available && !m_trayWasAvailable && m_window->isMinimized()) {
    ApplicationMinimized();
  }
  m_trayWasAvailable = available;
}

void TTrayIcon::ShowIcon() {
  m_icon.setIcon(m_window->windowIcon());
  m_icon.setToolTip(TipHelp.left(127));
  m_icon.show();
  m_shown = true;
}

void TTrayIcon::HideIcon() {
  m_leftPressTimer.stop();
  m_icon.hide();
  m_shown = false;
}

bool TTrayIcon::ShowMessage(const QString& title, const QString& text) {
  if (!m_shown) return false;
  m_icon.showMessage(title, text, QSystemTrayIcon::Warning);
  return true;
}

void TTrayIcon::Activate(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      m_pressPosition = QCursor::pos();
      m_leftPressTimer.start(QApplication::doubleClickInterval());
      break;
    case QSystemTrayIcon::DoubleClick:
      m_leftPressTimer.stop();
      emit DblClick();
      break;
    default:
      break;
  }
}

void TTrayIcon::PopupMenu() {
  // Foreground first, so that the menu closes when the user clicks elsewhere.
  m_window->activateWindow();
  m_popup->popup(m_pressPosition);
}

}  // namespace brannock
