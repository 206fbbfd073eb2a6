#include "app/fitting/model_input.hpp"

#include "app/main/kzt_common.hpp"
#include "core/status.hpp"

namespace kesta {

void kzt_features_to_model(const InputFeatures&, FitModel&, Status&) {}

void KZT_GUI_PARAMETERS(bool, KztDataSets&, FitModel&, Status& status) {
  kzt_not_available("INPUT PARAMETERS", status);
  status = kStatusEscape;
}

}  // namespace kesta
