// The conversion window driven as a user would, on the offscreen platform.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include "Form1.h"
#include "ksFixture.h"
#include "base/ksPDFResStrs.h"
#include "ksRadioGroup.h"
#include "ksScriptedDesktop.h"

namespace {

const char* const kVersionTexts[] = {"1.0", "1.1", "1.2", "1.3", "1.4", "1.5", "1.6", "1.7", "2.0"};

// A small whole document; marker goes into the page so outputs can be told apart.
std::string SmallPdf(const std::string& version, const std::string& marker = "page") {
  return ksfixture::PdfBuilder("%PDF-" + version)
      .Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
      .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Marker (" + marker + ") >>")
      .Build("/Root 1 0 R");
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// The message the engine itself gives when loading path fails.
QString EngineLoadFailure(const QString& path) {
  TksPDFDocument document;
  try {
    document.LoadFromFile(QFile::encodeName(path).toStdString());
  } catch (const std::exception& failure) {
    return QString::fromUtf8(failure.what());
  }
  return {};
}

}  // namespace

class TestForm1 : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dirHolder_;  // a fresh folder for every test
  QTemporaryDir& dir() { return *dirHolder_; }
  std::unique_ptr<TksScriptedDesktop> desktop_;
  std::unique_ptr<TForm1> form_;

  template <class T>
  T* Find(const char* name) {
    T* widget = form_->findChild<T*>(QString::fromLatin1(name));
    if (!widget) qFatal("no widget %s", name);
    return widget;
  }
  QLineEdit* Edit1() { return Find<QLineEdit>("Edit1"); }
  QLineEdit* Edit2() { return Find<QLineEdit>("Edit2"); }
  TksRadioGroup* RadioGroup1() { return Find<TksRadioGroup>("RadioGroup1"); }
  void Click(const char* button) { QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton); }

  QString Write(const QString& name, const std::string& bytes) {
    const QString path = dir().filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
      qFatal("cannot write %s", qPrintable(path));
    return path;
  }
  // Browse-and-open through the Open PDF button.
  void Open(const QString& path) {
    desktop_->fileAnswers.push_back(path);
    Click("Button1");
  }
  QStringList Shown(const QString& kind) const {
    QStringList texts;
    for (const auto& s : desktop_->shown)
      if (s.kind == kind) texts << s.text;
    return texts;
  }

 private slots:
  void init() {
    dirHolder_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir().isValid());
    desktop_ = std::make_unique<TksScriptedDesktop>();
    form_ = std::make_unique<TForm1>(desktop_.get());
    form_->show();
  }
  void cleanup() {
    form_.reset();
    desktop_.reset();
    dirHolder_.reset();
  }

  void layoutAsDesigned_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption");
    QTest::newRow("GroupBox1") << "GroupBox1" << "Form1" << QRect(16, 5, 457, 79) << "Open PDF";
    QTest::newRow("Label1") << "Label1" << "GroupBox1" << QRect(12, 35, 43, 13) << "PDF File:";
    QTest::newRow("Edit1") << "Edit1" << "GroupBox1" << QRect(64, 32, 345, 21) << "";
    QTest::newRow("Button1") << "Button1" << "GroupBox1" << QRect(413, 30, 25, 25) << "...";
    QTest::newRow("RadioGroup1") << "RadioGroup1" << "Form1" << QRect(16, 89, 457, 148) << "PDF Version";
    QTest::newRow("GroupBox2") << "GroupBox2" << "Form1" << QRect(16, 245, 457, 79) << "Save PDF";
    QTest::newRow("Label2") << "Label2" << "GroupBox2" << QRect(12, 35, 43, 13) << "PDF File:";
    QTest::newRow("Edit2") << "Edit2" << "GroupBox2" << QRect(64, 32, 345, 21) << "";
    QTest::newRow("Button2") << "Button2" << "GroupBox2" << QRect(413, 30, 25, 25) << "...";
    QTest::newRow("Button3") << "Button3" << "Form1" << QRect(104, 334, 75, 25) << "&Convert";
    QTest::newRow("Button5") << "Button5" << "Form1" << QRect(304, 334, 75, 25) << "&Exit";
    QTest::newRow("chkShowSettings") << "chkShowSettings" << "Form1" << QRect(104, 364, 275, 20)
                                     << "Show &settings before saving";
    // Added below the designed area: the status line and the progress bar.
    QTest::newRow("StatusBar1") << "StatusBar1" << "Form1" << QRect(0, 388, 492, 24) << "";
  }
  void layoutAsDesigned() {
    QFETCH(QString, name);
    QFETCH(QString, parentName);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QWidget* widget = form_->findChild<QWidget*>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    QString text;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      text = label->text();
      // A label grows from its designed width when the face needs more for its text.
      QVERIFY(label->width() >= label->sizeHint().width());
      if (label->width() > geometry.width()) geometry.setWidth(label->width());
    }
    QCOMPARE(widget->geometry(), geometry);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) text = edit->text();
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
      text = button->text();
      QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);
    }
    if (auto* box = qobject_cast<QGroupBox*>(widget)) text = box->title();
    if (auto* check = qobject_cast<QCheckBox*>(widget)) text = check->text();
    QCOMPARE(text, caption);
  }

  void windowAsDesigned() {
    QCOMPARE(form_->objectName(), QStringLiteral("Form1"));
    QCOMPARE(form_->windowTitle(), QStringLiteral("Pagewright PDF Version Converter 2.5"));
    // 492 x 388 as designed, plus 24 for the status line.
    QCOMPARE(form_->size(), QSize(492, 412));
    QCOMPARE(form_->minimumSize(), form_->maximumSize());
    QCOMPARE(form_->font().family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(form_->font().pixelSize(), 11);
    QCOMPARE(Find<QPushButton>("Button3")->shortcut(), QKeySequence(Qt::ALT | Qt::Key_C));
    QCOMPARE(Find<QPushButton>("Button5")->shortcut(), QKeySequence(Qt::ALT | Qt::Key_E));

    for (const TksFileDialog* dialog : {&form_->OpenDialog1, &form_->SaveDialog1}) {
      QCOMPARE(dialog->DefaultExt, QStringLiteral("pdf"));
      QCOMPARE(dialog->Filter, QStringLiteral("Portable Document Format (*.pdf)|*.pdf"));
      QCOMPARE(dialog->NameFilters(), QStringList{QStringLiteral("Portable Document Format (*.pdf)")});
      QVERIFY(dialog->HideReadOnly);
      QVERIFY(dialog->EnableSizing);
    }
    QCOMPARE(form_->OpenDialog1.Title, QStringLiteral("Open PDF"));
    QCOMPARE(form_->OpenDialog1.Kind, fdOpen);
    QVERIFY(!form_->OpenDialog1.OverwritePrompt);
    QCOMPARE(form_->SaveDialog1.Title, QStringLiteral("Save PDF"));
    QCOMPARE(form_->SaveDialog1.Kind, fdSave);
    QVERIFY(form_->SaveDialog1.OverwritePrompt);

    const TksPDFDocument& doc = *form_->PDFDoc;
    QVERIFY(!doc.OpenAfterSave);
    QVERIFY(!doc.ShowSetupDialog);
    QVERIFY(!doc.CustomRenderText);
    QCOMPARE(const_cast<TksPDFDocument&>(doc).Encryption().Level(), el40bit);
    QCOMPARE(doc.PDFVersion, pvPDF14);
    QCOMPARE(doc.PageMode, pmNone);
    QCOMPARE(doc.PageLayout, plNone);
    QVERIFY((doc.MergeOptions == std::vector<TksMergeOption>{moIncludeOutlines, moIncludeFormFields}));
  }

  void tabOrderFollowsTheLayout() {
    QStringList order;
    QWidget* widget = form_.get();
    for (int steps = 0; steps < 100; ++steps) {
      widget = widget->nextInFocusChain();
      if (widget == form_.get()) break;
      if (!(widget->focusPolicy() & Qt::TabFocus)) continue;
      // The radio items count as their group.
      QString name = qobject_cast<QRadioButton*>(widget) ? widget->parentWidget()->objectName() : widget->objectName();
      if (order.isEmpty() || order.back() != name) order << name;
    }
    QCOMPARE(order, (QStringList{"Edit1", "Button1", "RadioGroup1", "Edit2", "Button2", "Button3", "Button5", "chkShowSettings"}));
  }

  void radioItemsInTwoColumns() {
    TksRadioGroup* group = RadioGroup1();
    QCOMPARE(group->Columns(), 2);
    const QList<QRadioButton*>& buttons = group->Buttons();
    const QStringList expected = {"1.0 (Adobe Acrobat 1.x)", "1.1 (Adobe Acrobat 2.x)", "1.2 (Adobe Acrobat 3.x)",
                                  "1.3 (Adobe Acrobat 4.x)", "1.4 (Adobe Acrobat 5.x)", "1.5 (Adobe Acrobat 6.x)",
                                  "1.6 (Adobe Acrobat 7.x)", "1.7 (Adobe Acrobat 8/9/X/XI, ISO 32000)",
                                  "2.0 (Adobe Acrobat, ISO 32000-2)"};
    QCOMPARE(group->Items(), expected);
    QCOMPARE(buttons.size(), 9);
    for (int i = 0; i < 9; ++i) {
      QCOMPARE(buttons[i]->text(), expected[i]);
      QVERIFY(buttons[i]->isVisible());
      // Items 0-4 fill the first column top to bottom, 5-8 the second.
      const QRadioButton* columnHead = buttons[i < 5 ? 0 : 5];
      QCOMPARE(buttons[i]->x(), columnHead->x());
      QCOMPARE(buttons[i]->y(), columnHead->y() + (i % 5) * buttons[0]->height());
      QVERIFY(buttons[i]->geometry().bottom() < group->height());
    }
    QVERIFY(buttons[5]->x() >= buttons[0]->geometry().right());
    QCOMPARE(buttons[5]->y(), buttons[0]->y());

    group->setItemIndex(3);
    QVERIFY(buttons[3]->isChecked());
    group->setItemIndex(-1);
    QCOMPARE(group->ItemIndex(), -1);
    for (QRadioButton* button : buttons) QVERIFY(!button->isChecked());
  }

  void initialStateIsEmpty() {
    QCOMPARE(RadioGroup1()->ItemIndex(), -1);
    for (QRadioButton* button : RadioGroup1()->Buttons()) QVERIFY(!button->isChecked());
    QVERIFY(Edit1()->text().isEmpty());
    QVERIFY(Edit2()->text().isEmpty());
    QVERIFY(!form_->PDFDoc->IsLoaded);
    QCOMPARE(Find<QProgressBar>("ProgressBar1")->value(), 0);
  }

  void convertNeedsBothNames_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("message");
    QTest::newRow("neither") << "" << "" << "No source file specified!";
    QTest::newRow("no source") << "" << "out.pdf" << "No source file specified!";
    QTest::newRow("no output") << "in.pdf" << "" << "No output file specified!";
  }
  void convertNeedsBothNames() {
    QFETCH(QString, source);
    QFETCH(QString, output);
    QFETCH(QString, message);
    Edit1()->setText(source.isEmpty() ? source : dir().filePath(source));
    Edit2()->setText(output.isEmpty() ? output : dir().filePath(output));
    Click("Button3");
    QCOMPARE(desktop_->shown.size(), size_t(1));
    QCOMPARE(desktop_->shown[0].kind, QStringLiteral("message"));
    QCOMPARE(desktop_->shown[0].caption, QStringLiteral("Pagewright PDF Version Converter"));
    QCOMPARE(desktop_->shown[0].text, message);
    QVERIFY(!QFile::exists(dir().filePath("out.pdf")));
    QVERIFY(!form_->PDFDoc->IsLoaded);
  }

  void openSelectsDeclaredVersion_data() {
    QTest::addColumn<int>("index");
    for (int i = 0; i < 9; ++i) QTest::newRow(kVersionTexts[i]) << i;
  }
  void openSelectsDeclaredVersion() {
    QFETCH(int, index);
    const QString path = Write(QStringLiteral("v.pdf"), SmallPdf(kVersionTexts[index]));
    Open(path);
    QCOMPARE(desktop_->dialogsRun.size(), size_t(1));
    QCOMPARE(desktop_->dialogsRun[0].Title, QStringLiteral("Open PDF"));
    QCOMPARE(Edit1()->text(), path);
    QCOMPARE(RadioGroup1()->ItemIndex(), index);
    QVERIFY(RadioGroup1()->Buttons()[index]->isChecked());
    QVERIFY(desktop_->shown.empty());
    // The engine's status and progress reach the status line.
    QCOMPARE(Find<QLabel>("lblStatus")->text(), QStringLiteral("Document read complete. Pages read = 1"));
    QCOMPARE(Find<QProgressBar>("ProgressBar1")->value(), 100);
  }

  void convertKeepsSourceVersionWhenNoneChosen() {
    const QString source = Write(QStringLiteral("in.pdf"), SmallPdf("1.3"));
    const QString output = dir().filePath(QStringLiteral("out.pdf"));
    Open(source);
    desktop_->fileAnswers.push_back(output);
    Click("Button2");
    QCOMPARE(desktop_->dialogsRun.back().Title, QStringLiteral("Save PDF"));
    QCOMPARE(Edit2()->text(), output);
    QVERIFY(!QFile::exists(output));  // choosing a name creates nothing
    Click("Button3");
    QCOMPARE(Shown(QStringLiteral("error")), QStringList());
    QCOMPARE(Shown(QStringLiteral("message")), QStringList{QStringLiteral("Conversion Done!")});
    QVERIFY(ReadAll(output).startsWith("%PDF-1.3"));
  }

  // An update raised the version through the catalog: the window shows the later version
  // and a conversion without a choice keeps it.
  void openSelectsCatalogVersionOverTheHeader() {
    const QString source = Write(QStringLiteral("raised.pdf"),
                                 ksfixture::PdfBuilder("%PDF-1.4")
                                     .Object(1, "<< /Type /Catalog /Pages 2 0 R /Version /1.7 >>")
                                     .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
                                     .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>")
                                     .Build("/Root 1 0 R"));
    const QString output = dir().filePath(QStringLiteral("out.pdf"));
    Open(source);
    QCOMPARE(RadioGroup1()->ItemIndex(), int(pvPDF17));
    desktop_->fileAnswers.push_back(output);
    Click("Button2");
    Click("Button3");
    QCOMPARE(Shown(QStringLiteral("message")), QStringList{QStringLiteral("Conversion Done!")});
    QVERIFY(ReadAll(output).startsWith("%PDF-1.7"));
  }

  void convertWritesChosenVersion_data() { openSelectsDeclaredVersion_data(); }
  void convertWritesChosenVersion() {
    QFETCH(int, index);
    const QString source = Write(QStringLiteral("in.pdf"), SmallPdf(index == 4 ? "1.6" : "1.4"));
    const QString output = dir().filePath(QStringLiteral("out.pdf"));
    Open(source);
    QTest::mouseClick(RadioGroup1()->Buttons()[index], Qt::LeftButton);
    QCOMPARE(RadioGroup1()->ItemIndex(), index);
    Edit2()->setText(output);
    Click("Button3");
    QCOMPARE(Shown(QStringLiteral("message")), QStringList{QStringLiteral("Conversion Done!")});
    const QByteArray written = ReadAll(output);
    QVERIFY2(written.startsWith(QByteArray("%PDF-") + kVersionTexts[index]), written.left(17).constData());
    QCOMPARE(form_->PDFDoc->PDFVersion, static_cast<TksPDFVersion>(index));
  }

  // Asked for, the settings dialog comes before the write: Cancel converts nothing, OK
  // writes with what it holds (Flate at the fastest level unless changed).
  void settingsBeforeSaving() {
    const QString source = Write(QStringLiteral("in.pdf"), SmallPdf("1.4"));
    const QString output = dir().filePath(QStringLiteral("out.pdf"));
    Open(source);
    Edit2()->setText(output);
    Find<QCheckBox>("chkShowSettings")->click();
    form_->PDFDoc->OpenFileHook = nullptr;
    QString title;
    QTimer::singleShot(0, [&title] {
      QWidget* modal = QApplication::activeModalWidget();
      QVERIFY(modal);
      title = modal->windowTitle();
      QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("btnCancel")), Qt::LeftButton);
    });
    Click("Button3");
    QCOMPARE(title, QStringLiteral("Document Settings and Preferences"));
    QVERIFY(!QFile::exists(output));
    QVERIFY(Shown(QStringLiteral("message")).isEmpty());
    QCOMPARE(Find<QLabel>("lblStatus")->text(), QStringLiteral("Not converted: the settings dialog was cancelled."));

    QTimer::singleShot(0, [] {
      QWidget* modal = QApplication::activeModalWidget();
      QVERIFY(modal);
      modal->findChild<QLineEdit*>(QStringLiteral("edtTitle"))->setText(QStringLiteral("Отчёт"));
      QTest::keyClick(modal, Qt::Key_Return);
    });
    Click("Button3");
    QCOMPARE(Shown(QStringLiteral("message")), QStringList{QStringLiteral("Conversion Done!")});
    QVERIFY(ReadAll(output).startsWith("%PDF-1.4"));
    QVERIFY(form_->PDFDoc->Info().Title() == u"Отчёт");
    QVERIFY(form_->PDFDoc->Compression.Enabled);
    QCOMPARE(int(form_->PDFDoc->Compression.Level), 1);
  }

  void namesWithoutThePdfExtension_data() {
    QTest::addColumn<QString>("typedSource");  // the source file on disk has this name
    QTest::addColumn<QString>("typedOutput");
    QTest::addColumn<QString>("written");
    QTest::newRow("as named") << "in.pdf" << "out.pdf" << "out.pdf";
    QTest::newRow("source without extension") << "in" << "out.pdf" << "out.pdf";
    QTest::newRow("other output extension") << "in.pdf" << "out.txt" << "out.txt.pdf";
    QTest::newRow("upper-case output extension") << "in.pdf" << "OUT.PDF" << "OUT.PDF";
  }
  void namesWithoutThePdfExtension() {
    QFETCH(QString, typedSource);
    QFETCH(QString, typedOutput);
    QFETCH(QString, written);
    Write(typedSource, SmallPdf("1.3"));
    Edit1()->setText(dir().filePath(typedSource));
    Edit2()->setText(dir().filePath(typedOutput));
    Click("Button3");
    QCOMPARE(Shown(QStringLiteral("message")), QStringList{QStringLiteral("Conversion Done!")});
    QVERIFY(ReadAll(dir().filePath(written)).startsWith("%PDF-1.3"));
    QCOMPARE(RadioGroup1()->ItemIndex(), 3);
  }

  // The engine's warnings of a load and a save: the status line says so after the open,
  // and the conversion is done but says how many there were, names the first and lists
  // them all in the message's details.
  void warningsOfTheConversionAreShown_data() {
    QTest::addColumn<bool>("withOutline");
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<QStringList>("warnings");
    const QString info = QString::fromUtf8(ksFormat(ksres::SInfoNotDictionary, 4));
    const QString outline = QString::fromUtf8(ksFormat(ksres::SOutlineNotDictionary, 6));
    QTest::newRow("one") << false << false << QStringList{info};
    QTest::newRow("two") << true << false << QStringList{info, outline};
    // A repaired file says so first.
    QTest::newRow("repaired") << false << true << QStringList{QString::fromUtf8(ksres::SRepaired), info};
  }
  void warningsOfTheConversionAreShown() {
    QFETCH(bool, withOutline);
    QFETCH(bool, damaged);
    QFETCH(QStringList, warnings);
    ksfixture::PdfBuilder b("%PDF-1.5");
    b.Object(1, withOutline ? "<< /Type /Catalog /Pages 2 0 R /Outlines 5 0 R >>" : "<< /Type /Catalog /Pages 2 0 R >>")
        .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>")
        .Object(4, "42");  // /Info that is no dictionary
    if (withOutline) b.Object(5, "<< /Type /Outlines /First 6 0 R /Last 6 0 R /Count 1 >>").Object(6, "7");
    std::string bytes = b.Build("/Root 1 0 R /Info 4 0 R");
    if (damaged) bytes.replace(bytes.rfind("startxref"), std::string::npos, "startxref\n7\n%%EOF\n");
    Open(Write(QStringLiteral("warned.pdf"), bytes));
    QVERIFY(desktop_->shown.empty());
    auto* status = Find<QLabel>("lblStatus");
    const QString opened = warnings.size() == 1 ? QStringLiteral("Opened with 1 warning: ") + warnings[0]
                                                : QStringLiteral("Opened with 2 warnings, the first: ") + warnings[0];
    QCOMPARE(status->text(), status->fontMetrics().elidedText(opened, Qt::ElideRight, status->width()));
    QVERIFY2(status->text().startsWith(opened.left(20)), qPrintable(status->text()));
    QCOMPARE(status->toolTip(), warnings.join(QLatin1Char('\n')));

    const QString output = dir().filePath(QStringLiteral("out.pdf"));
    Edit2()->setText(output);
    Click("Button3");
    QCOMPARE(desktop_->shown.size(), size_t(1));
    const auto& done = desktop_->shown.front();
    QCOMPARE(done.kind, QStringLiteral("message"));
    QCOMPARE(done.text, QStringLiteral("Conversion Done!\n\n") +
                            (warnings.size() == 1 ? QStringLiteral("1 warning: ") + warnings[0]
                                                  : QStringLiteral("2 warnings, the first: ") + warnings[0]));
    QCOMPARE(done.details, warnings.join(QLatin1Char('\n')));
    QVERIFY(ReadAll(output).startsWith("%PDF-1.5"));

    // A second conversion of the same document gives the same account; a clean file
    // opened next has none.
    Click("Button3");
    QCOMPARE(desktop_->shown.back().details, warnings.join(QLatin1Char('\n')));
    Open(Write(QStringLiteral("clean.pdf"), SmallPdf("1.4")));
    QVERIFY(status->toolTip().isEmpty());
    QVERIFY(!status->text().contains(QStringLiteral("warning")));
    Click("Button3");
    QCOMPARE(desktop_->shown.back().text, QStringLiteral("Conversion Done!"));
    QVERIFY(desktop_->shown.back().details.isEmpty());
  }

  void versionFindingsShownBeforeAndAfterConverting() {
    const std::string bytes = ksfixture::PdfBuilder("%PDF-1.7")
                                  .Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
                                  .Object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
                                  .Object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] "
                                             "/Group << /S /Transparency >> >>")
                                  .Build("/Root 1 0 R");
    Open(Write(QStringLiteral("group.pdf"), bytes));
    auto* status = Find<QLabel>("lblStatus");
    QVERIFY(status->toolTip().isEmpty());
    const QString finding = QStringLiteral("PDF 1.3 does not support transparency groups (PDF 1.4), used on page 1");
    QTest::mouseClick(RadioGroup1()->Buttons()[3], Qt::LeftButton);
    QCOMPARE(status->toolTip(), finding);
    QCOMPARE(status->text(), status->fontMetrics().elidedText(QStringLiteral("PDF 1.3: 1 warning: ") + finding,
                                                              Qt::ElideRight, status->width()));
    // A version that knows it says nothing.
    QTest::mouseClick(RadioGroup1()->Buttons()[4], Qt::LeftButton);
    QVERIFY(status->toolTip().isEmpty());
    QTest::mouseClick(RadioGroup1()->Buttons()[3], Qt::LeftButton);

    const QString output = dir().filePath(QStringLiteral("out.pdf"));
    Edit2()->setText(output);
    Click("Button3");
    QCOMPARE(desktop_->shown.size(), size_t(1));
    QCOMPARE(desktop_->shown.front().text, QStringLiteral("Conversion Done!\n\n1 warning: ") + finding);
    QCOMPARE(desktop_->shown.front().details, finding);
    QVERIFY(ReadAll(output).startsWith("%PDF-1.3"));
  }

  void cancelledDialogsChangeNothing() {
    const QString source = Write(QStringLiteral("in.pdf"), SmallPdf("1.5"));
    Open(source);
    QTest::mouseClick(RadioGroup1()->Buttons()[7], Qt::LeftButton);
    Edit2()->setText(dir().filePath(QStringLiteral("out.pdf")));
    const int32_t documentID = form_->PDFDoc->DocumentID;

    Click("Button1");  // no answer scripted: the user cancels
    Click("Button2");
    QCOMPARE(desktop_->dialogsRun.size(), size_t(3));
    QCOMPARE(Edit1()->text(), source);
    QCOMPARE(Edit2()->text(), dir().filePath(QStringLiteral("out.pdf")));
    QCOMPARE(RadioGroup1()->ItemIndex(), 7);
    QCOMPARE(form_->PDFDoc->DocumentID, documentID);
    QVERIFY(form_->PDFDoc->StructureRead);
    QVERIFY(desktop_->shown.empty());
  }

  void failingOpenShowsEngineMessageAndKeepsSelection_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");  // empty: the file does not exist
    QTest::newRow("missing file") << "missing.pdf" << QByteArray();
    QTest::newRow("not a PDF") << "text.pdf" << QByteArray("just some text, no header\n");
    QTest::newRow("unsupported version") << "v9.pdf" << QByteArray::fromStdString(SmallPdf("9.9"));
  }
  void failingOpenShowsEngineMessageAndKeepsSelection() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    Open(Write(QStringLiteral("good.pdf"), SmallPdf("1.6")));
    QCOMPARE(RadioGroup1()->ItemIndex(), 6);

    const QString bad = bytes.isEmpty() ? dir().filePath(name) : Write(name, bytes.toStdString());
    const QString expected = EngineLoadFailure(bad);
    QVERIFY(!expected.isEmpty());
    if (bytes.isEmpty()) QVERIFY(expected.endsWith(QStringLiteral(" File Not Found")));
    Open(bad);
    QCOMPARE(Edit1()->text(), bad);
    QCOMPARE(Shown(QStringLiteral("error")), QStringList{expected});
    QCOMPARE(desktop_->shown.back().caption, QStringLiteral("Pagewright PDF Version Converter"));
    QCOMPARE(RadioGroup1()->ItemIndex(), 6);
    QVERIFY(form_->isVisible());

    // Convert tries the named source again and never claims success.
    const QString output = dir().filePath(QStringLiteral("out.pdf"));
    Edit2()->setText(output);
    Click("Button3");
    QCOMPARE(Shown(QStringLiteral("error")), (QStringList{expected, expected}));
    QCOMPARE(Shown(QStringLiteral("message")), QStringList());
    QVERIFY(!QFile::exists(output));
    QCOMPARE(RadioGroup1()->ItemIndex(), 6);
  }

  void convertOpensATypedSourceFirst() {
    // Nothing was ever opened: the file named in Edit1 is read before anything is written.
    const QString source = Write(QStringLiteral("typed.pdf"), SmallPdf("1.2", "typed"));
    const QString output = dir().filePath(QStringLiteral("out.pdf"));
    Edit1()->setText(source);
    Edit2()->setText(output);
    Click("Button3");
    QCOMPARE(Shown(QStringLiteral("message")), QStringList{QStringLiteral("Conversion Done!")});
    QByteArray written = ReadAll(output);
    QVERIFY(written.startsWith("%PDF-1.2"));
    QVERIFY(written.contains("(typed)"));
    QCOMPARE(RadioGroup1()->ItemIndex(), 2);

    // Another name typed after an open: that file is written, under the version the
    // radio group shows.
    const QString other = Write(QStringLiteral("other.pdf"), SmallPdf("1.6", "other"));
    Edit1()->setText(other);
    QTest::mouseClick(RadioGroup1()->Buttons()[8], Qt::LeftButton);
    Click("Button3");
    written = ReadAll(output);
    QVERIFY(written.startsWith("%PDF-2.0"));
    QVERIFY(written.contains("(other)"));
    QVERIFY(!written.contains("(typed)"));
    QCOMPARE(RadioGroup1()->ItemIndex(), 8);
    QCOMPARE(Shown(QStringLiteral("error")), QStringList());
  }

  void failingSaveShowsMessageNotDone() {
    Open(Write(QStringLiteral("in.pdf"), SmallPdf("1.4")));
    Edit2()->setText(dir().filePath(QStringLiteral("no-such-folder/out.pdf")));
    Click("Button3");
    QCOMPARE(Shown(QStringLiteral("message")), QStringList());
    QCOMPARE(Shown(QStringLiteral("error")).size(), 1);
    QVERIFY(!Shown(QStringLiteral("error"))[0].isEmpty());
    QVERIFY(form_->isVisible());
  }

  void droppingAPdfOpensIt() {
    const QString path = Write(QStringLiteral("dropped.pdf"), SmallPdf("1.5"));
    const QString text = Write(QStringLiteral("notes.txt"), "not a pdf");
    const QPoint at(200, 200);

    QMimeData notPdf;
    notPdf.setUrls({QUrl::fromLocalFile(text)});
    QDragEnterEvent refused(at, Qt::CopyAction, &notPdf, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form_.get(), &refused);
    QVERIFY(!refused.isAccepted());

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(text), QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form_.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form_.get(), &drop);
    QVERIFY(drop.isAccepted());
    QCOMPARE(Edit1()->text(), path);
    QCOMPARE(RadioGroup1()->ItemIndex(), 5);
    QVERIFY(form_->PDFDoc->StructureRead);
    QVERIFY(desktop_->dialogsRun.empty());
  }

  void passwordHandlerTriesEmptyThenAsks() {
    // Driven as the engine drives it: the empty password first, then the user, who is told
    // how many of their passwords were refused.
    auto& onPassword = form_->PDFDoc->OnPassword;
    QVERIFY(bool(onPassword));
    form_->PDFDoc->WorkFileName = QFile::encodeName(dir().filePath(QStringLiteral("locked.pdf"))).toStdString();
    desktop_->passwordAnswers = {QStringLiteral("first"), QStringLiteral("caf\u00e9 \u0416"), std::nullopt};
    struct Step {
      std::u16string password;
      bool cont;
    };
    std::vector<Step> steps;
    for (int tries = 0; tries < 4; ++tries) {
      std::u16string password = u"left over";
      bool cont = true;
      onPassword(form_->PDFDoc.get(), password, cont, tries);
      steps.push_back({password, cont});
      if (!cont) break;
    }
    QCOMPARE(steps.size(), size_t(4));
    QCOMPARE(QString::fromStdU16String(steps[0].password), QString());
    QVERIFY(steps[0].cont);
    QCOMPARE(QString::fromStdU16String(steps[1].password), QStringLiteral("first"));
    QVERIFY(steps[1].cont);
    // The text as typed, no code page in between: the engine chooses the bytes.
    QCOMPARE(QString::fromStdU16String(steps[2].password), QStringLiteral("caf\u00e9 \u0416"));
    QVERIFY(steps[2].cont);
    QVERIFY(!steps[3].cont);
    QCOMPARE(desktop_->passwordsAsked.size(), size_t(3));
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(desktop_->passwordsAsked[i].tries, i);
      QCOMPARE(desktop_->passwordsAsked[i].fileName, dir().filePath(QStringLiteral("locked.pdf")));
    }
  }

  void passwordDialogIsMaskedAndNamesTheFile() {
    const QString file = dir().filePath(QStringLiteral("locked.pdf"));
    for (int tries : {0, 1}) {
      TksPasswordDlg dialog(file, tries);
      auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("edtPassword"));
      auto* prompt = dialog.findChild<QLabel*>(QStringLiteral("lblPrompt"));
      QVERIFY(edit && prompt);
      QCOMPARE(edit->echoMode(), QLineEdit::Password);
      QVERIFY(prompt->text().contains(file));
      QCOMPARE(prompt->text(), TksPasswordDlg::PromptText(file, tries));
      QVERIFY(dialog.isModal());
      dialog.show();
      QTest::keyClicks(edit, QStringLiteral("s3cret"));
      QCOMPARE(dialog.Password(), QStringLiteral("s3cret"));
      auto* box = dialog.findChild<QDialogButtonBox*>();
      QVERIFY(box);
      QPushButton* button = box->button(tries == 0 ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
      QTest::mouseClick(button, Qt::LeftButton);
      QCOMPARE(dialog.result(), tries == 0 ? int(QDialog::Accepted) : int(QDialog::Rejected));
    }
    QVERIFY(TksPasswordDlg::PromptText(file, 0) != TksPasswordDlg::PromptText(file, 1));
  }

  void passwordPromptAsksAgainAfterAWrongPassword_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("version");
    QTest::newRow("RC4 128, user password") << "opf_simple-open-password.pdf" << "password" << 4;
    QTest::newRow("RC4 40, user password") << "gen-rc4-40-objstm-user-u40.pdf" << "u40" << 5;
    QTest::newRow("RC4 40, owner password") << "gen-rc4-40-objstm-user-u40.pdf" << "o40" << 5;
    QTest::newRow("AES-128, user password") << "pdfium_encrypted.pdf" << "1234" << 6;
    QTest::newRow("AES-128, owner password") << "pdfium_encrypted.pdf" << "5678" << 6;
    QTest::newRow("AES-256, user password") << "pdfwriter_PDFWithPassword20.pdf" << "user" << 8;
  }
  void passwordPromptAsksAgainAfterAWrongPassword() {
    QFETCH(QString, file);
    QFETCH(QString, password);
    QFETCH(int, version);
    const QString locked = QStringLiteral(PW_CORPUS_DIR "/") + file;
    // Passwords are case-sensitive; a password of digits is wrong with one more digit.
    const QString almost = password.toUpper() != password ? password.toUpper() : password + QLatin1Char('0');
    desktop_->passwordAnswers = {QStringLiteral("wrong"), almost, password};
    Open(locked);
    QCOMPARE(Shown(QStringLiteral("error")), QStringList());
    QCOMPARE(desktop_->passwordsAsked.size(), size_t(3));
    for (int i = 0; i < 3; ++i) QCOMPARE(desktop_->passwordsAsked[i].tries, i);
    QCOMPARE(desktop_->passwordsAsked[0].fileName, locked);
    QVERIFY(form_->PDFDoc->StructureRead);
    QCOMPARE(RadioGroup1()->ItemIndex(), version);

    const QString output = dir().filePath(QStringLiteral("out.pdf"));
    Edit2()->setText(output);
    QTest::mouseClick(RadioGroup1()->Buttons()[6], Qt::LeftButton);
    Click("Button3");
    const QStringList messages = Shown(QStringLiteral("message"));
    QCOMPARE(messages.size(), 1);
    // AES-256 is kept at 1.6 too, with a word that a reader of 1.6 may not open it.
    if (version == 8)
      QVERIFY2(messages[0].contains(QStringLiteral("does not support AES-256")), qPrintable(messages[0]));
    else
      QCOMPARE(messages[0], QStringLiteral("Conversion Done!"));
    QVERIFY(ReadAll(output).startsWith("%PDF-1.6"));
  }

  void emptyUserPasswordOpensWithoutAsking() {
    // RC4 128 bits, empty user password.
    Open(QStringLiteral(PW_CORPUS_DIR "/opf_simple-password-copy.pdf"));
    QCOMPARE(Shown(QStringLiteral("error")), QStringList());
    QVERIFY(desktop_->passwordsAsked.empty());
    QVERIFY(form_->PDFDoc->StructureRead);
    QCOMPARE(RadioGroup1()->ItemIndex(), 4);
  }

  void cancelledPasswordPromptOpensNothing() {
    Open(Write(QStringLiteral("plain.pdf"), SmallPdf("1.6")));
    const QString locked = QStringLiteral(PW_CORPUS_DIR "/opf_simple-open-password.pdf");
    desktop_->passwordAnswers = {QStringLiteral("wrong"), std::nullopt};
    Open(locked);
    QCOMPARE(desktop_->passwordsAsked.size(), size_t(2));
    QVERIFY(desktop_->shown.empty());  // the user cancelled; the status line says so
    QCOMPARE(Find<QLabel>("lblStatus")->text(), QString::fromUtf8(kOpenCancelled));
    QVERIFY(!form_->PDFDoc->IsLoaded);
    QCOMPARE(Edit1()->text(), locked);
    QCOMPARE(RadioGroup1()->ItemIndex(), 6);

    // Convert asks again (the file was never opened); a cancel there is reported and
    // nothing is written.
    const QString output = dir().filePath(QStringLiteral("out.pdf"));
    Edit2()->setText(output);
    Click("Button3");
    QCOMPARE(desktop_->passwordsAsked.size(), size_t(3));
    QCOMPARE(Shown(QStringLiteral("message")), QStringList{QString::fromUtf8(kOpenCancelled)});
    QVERIFY(!QFile::exists(output));
    QCOMPARE(RadioGroup1()->ItemIndex(), 6);
  }

  void windowKeepsPaintingDuringALoadAndStaysOpen() {
    // Pending events (paints, timers) are handled while the engine reads; a close asked for
    // meanwhile is refused, as the document is in use.
    const QString path = Write(QStringLiteral("in.pdf"), SmallPdf("1.5"));
    bool ranMidLoad = false, visibleAfterClose = false;
    QTimer::singleShot(0, form_.get(), [&] {
      ranMidLoad = !form_->PDFDoc->StructureRead;
      form_->close();
      visibleAfterClose = form_->isVisible();
    });
    Open(path);
    QVERIFY(ranMidLoad);
    QVERIFY(visibleAfterClose);
    QVERIFY(form_->isVisible());
    QCOMPARE(RadioGroup1()->ItemIndex(), 5);
  }

  void exitClosesTheWindow() {
    QVERIFY(form_->isVisible());
    Click("Button5");
    QVERIFY(!form_->isVisible());
  }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
