#include "plugin/dozod.h"

// Not built yet: every section forwards to the host's part.
int DOZOD::WriteClassifier(pugi::xml_node& node) {
  return WeightedClassifier::WriteClassifier(node);
}
int DOZOD::ReadClassifier(const pugi::xml_node& node) {
  return WeightedClassifier::ReadClassifier(node);
}
int DOZOD::WriteCfg(pugi::xml_node& node) {
  return WeightedClassifier::WriteCfg(node);
}
int DOZOD::ReadCfg(const pugi::xml_node& node) {
  return WeightedClassifier::ReadCfg(node);
}
int DOZOD::WriteInfo(pugi::xml_node& node) {
  return WeightedClassifier::WriteInfo(node);
}
int DOZOD::ReadInfo(const pugi::xml_node& node) {
  return WeightedClassifier::ReadInfo(node);
}
int DOZOD::WriteProtocol(pugi::xml_node& node) {
  return WeightedClassifier::WriteProtocol(node);
}
int DOZOD::ReadProtocol(const pugi::xml_node& node) {
  return WeightedClassifier::ReadProtocol(node);
}
