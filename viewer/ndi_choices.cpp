#include "viewer/ndi_choices.h"

#include "sources/ndi_receiver.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix {

void restoreNDIChoices(ViewerViewModel& viewModel) {
    NDIReceiver& receiver = *viewModel.receiver();
    receiver.setBandwidth(viewModel.persistence().loadNDIBandwidth());
    // Checked again: the store is a text file the user may have edited.
    const auto list = normalizeExtraIPs(viewModel.persistence().loadNDIExtraIPs().toStdString());
    receiver.setExtraIPs(list ? list.value() : std::string());
}

void chooseNDIBandwidth(ViewerViewModel& viewModel, NDIBandwidth bandwidth) {
    viewModel.persistence().saveNDIBandwidth(bandwidth);
    viewModel.receiver()->setBandwidth(bandwidth);
    viewModel.remakeVenueSenders();
}

std::optional<QString> chooseNDIExtraIPs(ViewerViewModel& viewModel, const QString& typed) {
    auto list = normalizeExtraIPs(typed.toStdString());
    if (!list) return QString::fromStdString(list.error());
    viewModel.persistence().saveNDIExtraIPs(QString::fromStdString(list.value()));
    viewModel.receiver()->setExtraIPs(std::move(list).value());
    viewModel.remakeVenueSenders();
    return std::nullopt;
}

}  // namespace lumbrix
