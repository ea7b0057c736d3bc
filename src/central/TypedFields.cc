// The seam between the record store's typed fields and the central rows.

#include "central/Publisher.h"

namespace Central {

void AddTypedFields(Records::RecordStore&, std::vector<PublishRow>&) {
  // Published as NULL until the store keeps typed fields.
}

}  // namespace Central
