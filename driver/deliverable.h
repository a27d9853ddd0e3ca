// What differs between the deliverables tarvel_1 ... tarvel_5 (and the
// further ports tarvel_6 ...): the port they open and their title and detail
// texts (Windows-1252).
#pragma once

extern const char DeliverablePortName[]; // "com1:" ... "com9:", then "\\.\COM10" ...
extern const char DeliverableTitle[];    // titre
extern const char DeliverableDetail[];   // detail
