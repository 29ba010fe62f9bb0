#pragma once

#include <QMainWindow>
#include <functional>
#include <string>

#include "job_env.h"
#include "job_settings.h"

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QFileDialog;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;

namespace pellatt {

class PageJob;

// The page builder's window "Quenby": its controls are the job's settings,
// its log and status line show the job's progress.
class Tf_main : public QMainWindow, public SettingsSource, public JobUi {
  Q_OBJECT

 public:
  Tf_main(ProcessStarter& starter, Clock& clock, QWidget* parent = nullptr);
  ~Tf_main() override;

  JobSettings current() const override;
  void log(const std::string& line) override;
  void status(const std::string& text) override;
  void process_events() override;
  bool ask(const std::string& question) override;
  void open_document(const std::string& path) override;

  // Replaceable for tests: the file dialog (empty = cancelled), the Yes/No
  // question, the error box and the opening of documents.
  std::function<QString()> choose_file;
  std::function<bool(const QString&)> ask_yes_no;
  std::function<void(const QString&)> show_error;
  std::function<void(const QString&)> open_with_desktop;

  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button3 = nullptr;
  QCheckBox* cb_continue = nullptr;
  QCheckBox* c_htmlmak = nullptr;
  QComboBox* ComboBox2 = nullptr;
  QComboBox* ComboBox3 = nullptr;
  QCheckBox* b_thmtop = nullptr;
  QCheckBox* cb_tslink = nullptr;
  QCheckBox* cb_timewrt = nullptr;
  QCheckBox* cb_subtime = nullptr;
  QComboBox* ComboBox1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QLineEdit* Edit4 = nullptr;
  QLineEdit* Edit2 = nullptr;
  QLineEdit* Edit3 = nullptr;
  QCheckBox* cb_fastthm = nullptr;
  QCheckBox* cb_subdlg = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  QPlainTextEdit* m_log = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QFileDialog* OpenDialog1 = nullptr;

 public slots:
  void Button1Click();
  void Button2Click();
  void Button3Click();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void build_controls();

  ProcessStarter& starter_;
  Clock& clock_;
  PageJob* job_ = nullptr;  // the running job, for the abort button
  bool closing_ = false;    // closed during a job: it stops, and nothing more is asked
};

}  // namespace pellatt
