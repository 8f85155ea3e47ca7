// The status line for a delivery that could not put its package in place:
// one text per cause, each telling the player what to do.
#pragma once

#include <string>

#include "delivery/Delivery.h"

namespace qorv {

std::wstring DeliveryFailureText(const DeliveryResult& result);

}  // namespace qorv
