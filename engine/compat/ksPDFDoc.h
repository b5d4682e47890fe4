// The document component programs place on their forms: the top of the layer chain.
#pragma once
#include "compat/ksExProPDFDoc.h"

class TksPDFDocument : public TksExProPDFDocument {};
