#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/file_drop.h is internal to ui/"
#endif
// Files dropped on the window: each opens as what its name says, in the order given,
// and anything that cannot open says so on the capture line rather than failing.
#include <QList>
#include <QUrl>

namespace lumbrix {

class ViewerViewModel;

// A model becomes the model, or with `modelsAsVenues` is added as a venue; a movie or
// picture becomes its source kind's file and is shown.
void openDroppedUrls(ViewerViewModel& viewModel, const QList<QUrl>& urls, bool modelsAsVenues);

}  // namespace lumbrix
