#include "transport/DeviceList.h"

void DeviceList::Append(const DeviceRecord& record) {
    records_.push_back(record);
}

size_t DeviceList::Count() const {
    return records_.size();
}

const DeviceRecord* DeviceList::At(size_t position) const {
    return position < records_.size() ? &records_[position] : nullptr;
}
