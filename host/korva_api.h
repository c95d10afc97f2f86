#ifndef KORVA_HOST_KORVA_API_H_
#define KORVA_HOST_KORVA_API_H_

// Marks what the host library exports; everything else stays hidden.
#define KORVA_API __attribute__((visibility("default")))

#endif  // KORVA_HOST_KORVA_API_H_
