#include "hid/hid_backend.h"

namespace glowstep {

THidError THidConnection::Attributes(THidAttributes& attributes) {
  if (const THidError gone = Status()) return gone;
  const THidInterfaceRecord& record = Interface();
  if (record.IdentityError != 0) return {record.IdentityError, 0};
  attributes.VendorID = record.VendorId;
  attributes.ProductID = record.ProductId;
  attributes.VersionNumber = record.Version;
  return {};
}

THidError THidConnection::ProductString(std::u16string& text) {
  if (const THidError gone = Status()) return gone;
  const THidInterfaceRecord& record = Interface();
  if (record.ProductStringError != 0) return {record.ProductStringError, 0};
  text = record.ProductString;
  return {};
}

THidError THidConnection::Caps(THidCaps& caps) {
  if (const THidError gone = Status()) return gone;
  const THidInterfaceRecord& record = Interface();
  if (record.DescriptorError != 0) return {record.DescriptorError, 0};
  caps = THidCaps{};
  caps.Usage = record.Usage;
  caps.UsagePage = record.UsagePage;
  caps.InputReportByteLength = record.InputReportLength;
  caps.OutputReportByteLength = record.OutputReportLength;
  caps.FeatureReportByteLength = record.FeatureReportLength;
  caps.NumberLinkCollectionNodes = record.Collections;
  return {};
}

THidError THidBackend::Scan(const TFoundInterface& found) {
  THidError error;
  std::vector<THidInterfaceRecord> records = List(error);
  if (error) return error;
  for (THidInterfaceRecord& record : records)
    if (!found(std::move(record))) break;
  return {};
}

}  // namespace glowstep
