#include "main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include "page_job.h"
#include "sliced_clock.h"
#include "system_env.h"

namespace pellatt {

namespace {

QCheckBox* check_box(const char* text, bool checked) {
  auto* box = new QCheckBox(QString::fromUtf8(text));
  box->setChecked(checked);
  return box;
}

QLineEdit* number_field(const char* text) {
  auto* field = new QLineEdit(QString::fromUtf8(text));
  field->setMaximumWidth(60);
  return field;
}

QHBoxLayout* row(std::initializer_list<QWidget*> widgets) {
  auto* layout = new QHBoxLayout;
  for (QWidget* w : widgets) layout->addWidget(w);
  layout->addStretch();
  return layout;
}

QLabel* label(const char* text) { return new QLabel(QString::fromUtf8(text)); }

QFont window_font() {
  QFont font;
  font.setFamilies({"IPAGothic", "Noto Sans CJK JP"});
  font.setPixelSize(12);
  return font;
}

}  // namespace

Tf_main::Tf_main(ProcessStarter& starter, Clock& clock, QWidget* parent)
    : QMainWindow(parent), starter_(starter), clock_(clock) {
  setWindowTitle("Quenby");
  setFont(window_font());
  build_controls();
  choose_file = [this] { return OpenDialog1->exec() == QDialog::Accepted ? OpenDialog1->selectedFiles().value(0) : QString(); };
  ask_yes_no = [this](const QString& question) {
    return QMessageBox::question(this, "Quenby", question, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };
  show_error = [this](const QString& text) { QMessageBox::critical(this, "Quenby", text); };
  open_with_desktop = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
}

Tf_main::~Tf_main() = default;

void Tf_main::build_controls() {
  Button1 = new QPushButton(QString::fromUtf8("字幕とサムネイル作成"));
  Button2 = new QPushButton(QString::fromUtf8("中止"));
  Button2->setEnabled(false);
  Button3 = new QPushButton(QString::fromUtf8("録画ソフト起動"));
  cb_continue = check_box("連続モード", true);
  c_htmlmak = check_box("HTML再構築のみ", false);

  ComboBox2 = new QComboBox;
  ComboBox2->addItems({"1", "2", "3", "4", "5", "6"});
  ComboBox2->setCurrentText("4");
  ComboBox3 = new QComboBox;
  ComboBox3->addItems({QString::fromUtf8("字幕のみ改行サムネイルは横に並べる"), QString::fromUtf8("時間に比例して改行"),
                       QString::fromUtf8("1字幕1サムネイル1改行")});
  b_thmtop = check_box("画像の下に字幕", true);
  cb_tslink = check_box("tsファイルへのリンクを貼る", true);
  cb_timewrt = check_box("サムネイル時間表示", true);
  cb_subtime = check_box("字幕時間表示", false);
  auto* page_group = new QGroupBox(QString::fromUtf8("●合成結果htmlページ設定"));
  auto* page_layout = new QVBoxLayout(page_group);
  page_layout->addLayout(row({label("出力列数"), ComboBox2, label("1行時の改行形式"), ComboBox3}));
  page_layout->addLayout(row({b_thmtop, cb_tslink, cb_timewrt, cb_subtime}));

  ComboBox1 = new QComboBox;
  ComboBox1->addItems({".jpg", ".png"});
  Edit1 = number_field("5");
  Edit4 = number_field("0");
  Edit2 = number_field("600");
  Edit3 = number_field("4");
  cb_fastthm = check_box("高速サムネイル作成", false);
  cb_subdlg = check_box("字幕抽出後.subが関連付けられたプログラムで開きサムネイル作成するか確認する", false);
  CheckBox1 = check_box("サムネイル作成のDOS窓を表示する", false);
  auto* advanced = new QGroupBox(QString::fromUtf8("●高度な設定"));
  auto* advanced_layout = new QVBoxLayout(advanced);
  advanced_layout->addLayout(row({label("1サムネイル作成のウェイト時間(動画の先頭からの秒数×"), Edit3, label("ﾐﾘ秒")}));
  advanced_layout->addWidget(cb_subdlg);
  advanced_layout->addWidget(CheckBox1);

  m_log = new QPlainTextEdit;
  m_log->setReadOnly(true);
  auto* log_group = new QGroupBox(QString::fromUtf8("●ログ"));
  (new QVBoxLayout(log_group))->addWidget(m_log);

  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->addLayout(row({Button1, Button2, cb_continue, c_htmlmak}));
  layout->addWidget(page_group);
  layout->addLayout(row({label("作成するサムネイル画像(jpg低サイズ　png高画質)"), ComboBox1}));
  layout->addLayout(row({label("サムネイル"), Edit1, label("秒ごと"), Edit4, label("秒から"), Edit2, label("秒まで")}));
  layout->addWidget(cb_fastthm);
  layout->addWidget(advanced);
  layout->addLayout(row({Button3}));
  layout->addWidget(log_group, 1);
  setCentralWidget(central);
  StatusBar1 = statusBar();

  OpenDialog1 = new QFileDialog(this);
  OpenDialog1->setFileMode(QFileDialog::ExistingFile);
  OpenDialog1->setNameFilters({"TS(*.ts),sub(*.sub) (*.ts *.sub)", "All(*) (*)"});

  connect(Button1, &QPushButton::clicked, this, &Tf_main::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &Tf_main::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &Tf_main::Button3Click);
}

JobSettings Tf_main::current() const {
  JobSettings s;
  s.cont = cb_continue->isChecked();
  s.html_only = c_htmlmak->isChecked();
  s.columns = ComboBox2->currentText().toStdString();
  s.one_column_layout = ComboBox3->currentIndex();
  s.thumb_top = b_thmtop->isChecked();
  s.ts_link = cb_tslink->isChecked();
  s.thumb_time = cb_timewrt->isChecked();
  s.caption_time = cb_subtime->isChecked();
  s.ext = ComboBox1->currentText().toStdString();
  s.interval = Edit1->text().toStdString();
  s.from = Edit4->text().toStdString();
  s.to = Edit2->text().toStdString();
  s.wait_factor = Edit3->text().toStdString();
  s.sub_dialog = cb_subdlg->isChecked();
  s.show_consoles = CheckBox1->isChecked();
  s.fast_thumbnails = cb_fastthm->isChecked();
  return s;
}

void Tf_main::log(const std::string& line) { m_log->appendPlainText(QString::fromStdString(line)); }
void Tf_main::status(const std::string& text) { StatusBar1->showMessage(QString::fromStdString(text)); }
void Tf_main::process_events() { QCoreApplication::processEvents(); }
bool Tf_main::ask(const std::string& question) {
  return !closing_ && ask_yes_no(QString::fromStdString(question));
}
void Tf_main::open_document(const std::string& path) { open_with_desktop(QString::fromStdString(path)); }

// Button1 stays disabled while the job runs: the job lets window events through
// during its waits, and a second job must not start inside the first.
void Tf_main::Button1Click() {
  const QString chosen = choose_file();
  if (chosen.isEmpty()) return;
  Button1->setEnabled(false);
  Button2->setEnabled(true);
  // The job runs on this thread; its waits hand the events over in slices.
  SlicedClock clock(clock_, [] { QCoreApplication::processEvents(); });
  PageJob job(*this, starter_, clock, *this);
  job_ = &job;
  try {
    job.run(chosen.toStdString());
  } catch (const JobError& e) {
    if (!closing_) show_error(QString::fromStdString(e.what()));
  }
  job_ = nullptr;
  Button1->setEnabled(true);
}

void Tf_main::Button2Click() {
  if (job_ != nullptr) job_->abort();
}

void Tf_main::Button3Click() { starter_.start("brannock", {}, true, recorder_work_folder(program_folder())); }

// Closing stops a running job at its next step, as the abort button does; the
// window goes at once and the program ends when the job has stopped.
void Tf_main::closeEvent(QCloseEvent* event) {
  if (job_ != nullptr) {
    closing_ = true;
    job_->abort();
  }
  event->accept();
}

}  // namespace pellatt
