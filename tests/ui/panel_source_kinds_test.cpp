// The file dialogs against the table of source kinds: a file the launch files would open
// as a kind can also be chosen in that kind's dialog.
#include <gtest/gtest.h>

#include "ui/qt_file_picker.h"
#include "viewer/source_kinds.h"
#include "viewer/viewer_enums.h"

namespace lumbrix::test {
namespace {

TEST(SourceKindPickerTest, EachKindsDialogOffersEveryExtensionTheKindOpens) {
    for (const SourceKind& kind : sourceKinds()) {
        if (!kind.pick) continue;
        const QString filter = QtFilePicker::nameFilter(*kind.pick);
        for (const QString& extension : kind.extensions) {
            EXPECT_TRUE(filter.contains(QStringLiteral("*.") + extension + QLatin1Char(' ')) ||
                        filter.contains(QStringLiteral("*.") + extension + QLatin1Char(')')))
                << rawValue(kind.mode) << ": " << extension.toStdString() << " missing from " << filter.toStdString();
        }
    }
}

}  // namespace
}  // namespace lumbrix::test
