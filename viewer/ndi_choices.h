#pragma once
// The NDI reception choices of the SOURCE section, bandwidth and extra addresses: applied
// to the view model's receiver and kept in its store, so the next run starts with them.
#include <optional>

#include <QString>

#include "sources/ndi_settings.h"

namespace lumbrix {

class ViewerViewModel;

// Start-up: the stored choices into the receiver, before discovery makes its finder.
void restoreNDIChoices(ViewerViewModel& viewModel);
// A live connection is made again with the new bandwidth.
void chooseNDIBandwidth(ViewerViewModel& viewModel, NDIBandwidth bandwidth);
// The typed list is normalized (normalizeExtraIPs), stored and given to the finder. When
// an entry is refused nothing changes and the answer says why.
std::optional<QString> chooseNDIExtraIPs(ViewerViewModel& viewModel, const QString& typed);

}  // namespace lumbrix
