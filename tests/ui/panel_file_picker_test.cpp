// Qt's file and folder dialogs behind the picker seam: what each kind offers, and that
// every dialog answers exactly once, later, and is gone afterwards.
#include <QFileDialog>
#include <QPointer>

#include "tests/ui/panel_test_support.h"
#include "ui/qt_file_picker.h"

namespace lumbrix::test {
namespace {

class QtFilePickerTest : public ::testing::Test {
protected:
    void SetUp() override {
        widgetApplication();
        ASSERT_TRUE(folder.ok());
        owner = std::make_unique<QWidget>();
    }
    void TearDown() override {
        owner.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QFileDialog* openDialog() {
        QFileDialog* dialog = nullptr;
        pumpUntil([&] { return (dialog = owner->findChild<QFileDialog*>()) != nullptr; }, std::chrono::seconds(2));
        return dialog;
    }

    TempFolder folder;
    std::unique_ptr<QWidget> owner;
};

TEST_F(QtFilePickerTest, EachKindOffersItsOwnFilesAndCancelAnswersEmptyOnce) {
    QtFilePicker picker(owner.get());
    const struct {
        FilePickKind kind;
        QString filter;
        QFileDialog::FileMode mode;
    } cases[] = {
        {FilePickKind::videoFile,
         "Movies (*.mp4 *.mov *.m4v *.mkv *.avi *.webm *.mxf *.mts *.ts *.mpg *.mpeg)", QFileDialog::ExistingFile},
        {FilePickKind::imageFile, "PNG and JPEG images (*.png *.jpg *.jpeg)", QFileDialog::ExistingFile},
        {FilePickKind::objModel, "OBJ models (*.obj)", QFileDialog::ExistingFile},
        {FilePickKind::fbxModel, "FBX models (*.fbx)", QFileDialog::ExistingFile},
        {FilePickKind::venues, "Models (*.obj *.fbx)", QFileDialog::ExistingFiles},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.filter.toStdString());
        std::vector<QStringList> answers;
        picker.pick(each.kind, [&](QStringList paths) { answers.push_back(paths); });
        QPointer<QFileDialog> dialog = openDialog();
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->nameFilters(), QStringList{each.filter});
        EXPECT_EQ(dialog->fileMode(), each.mode);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_FALSE(dialog->isModal() && dialog->windowModality() == Qt::ApplicationModal);
        EXPECT_TRUE(answers.empty());  // the dialog does not block the caller

        if (each.kind == FilePickKind::venues) {
            dialog->close();
        } else {
            dialog->reject();
        }
        EXPECT_TRUE(answers.empty());  // delivered later, never inside the dialog's close
        ASSERT_TRUE(pumpUntil([&] { return !answers.empty() && !dialog; }));
        pumpFor(std::chrono::milliseconds(20));
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_TRUE(answers.front().isEmpty());
    }
}

TEST_F(QtFilePickerTest, AcceptedFileIsDelivered) {
    const std::string movie = folder.file("take.mov");
    writeText(movie, "not really a movie");
    QtFilePicker picker(owner.get());
    std::vector<QStringList> answers;
    picker.pick(FilePickKind::videoFile, [&](QStringList paths) { answers.push_back(paths); });
    QPointer<QFileDialog> dialog = openDialog();
    ASSERT_TRUE(dialog);
    dialog->setDirectory(QString::fromStdString(folder.path().string()));
    dialog->selectFile(QString::fromStdString(movie));
    static_cast<QDialog*>(dialog.data())->accept();  // QFileDialog hides its override
    ASSERT_TRUE(pumpUntil([&] { return !answers.empty() && !dialog; }));
    EXPECT_EQ(answers.front(), QStringList{QString::fromStdString(movie)});
}

TEST_F(QtFilePickerTest, ADialogClosedWithItsWindowCountsAsCancel) {
    QtFilePicker picker(owner.get());
    std::vector<QStringList> answers;
    picker.pick(FilePickKind::imageFile, [&](QStringList paths) { answers.push_back(paths); });
    ASSERT_TRUE(openDialog());
    owner.reset();
    ASSERT_TRUE(pumpUntil([&] { return !answers.empty(); }));
    pumpFor(std::chrono::milliseconds(20));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_TRUE(answers.front().isEmpty());
}

TEST_F(QtFilePickerTest, FolderChooserShowsFoldersOnlyAndCancelAnswersEmpty) {
    std::vector<QString> answers;
    chooseFolderWithDialog(owner.get(), [&](QString path) { answers.push_back(path); });
    QPointer<QFileDialog> dialog = openDialog();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(dialog->testOption(QFileDialog::ShowDirsOnly));
    dialog->reject();
    ASSERT_TRUE(pumpUntil([&] { return !answers.empty() && !dialog; }));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_TRUE(answers.front().isEmpty());

    answers.clear();
    const QString takes = QString::fromStdString(folder.file("Takes"));
    QDir().mkpath(takes);
    chooseFolderWithDialog(owner.get(), [&](QString path) { answers.push_back(path); });
    dialog = openDialog();
    ASSERT_TRUE(dialog);
    dialog->setDirectory(takes);
    dialog->selectFile(takes);
    static_cast<QDialog*>(dialog.data())->accept();  // QFileDialog hides its override
    ASSERT_TRUE(pumpUntil([&] { return !answers.empty() && !dialog; }));
    EXPECT_EQ(QDir(answers.front()).canonicalPath(), QDir(takes).canonicalPath());
}

}  // namespace
}  // namespace lumbrix::test
