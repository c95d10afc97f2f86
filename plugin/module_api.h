#ifndef KORVA_PLUGIN_MODULE_API_H_
#define KORVA_PLUGIN_MODULE_API_H_

// Marks what the classifier module exports; everything else stays hidden.
#define MODULE_API __attribute__((visibility("default")))

#endif  // KORVA_PLUGIN_MODULE_API_H_
