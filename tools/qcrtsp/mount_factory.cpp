#include "mount_factory.h"

#include "mount.h"

namespace qcrtsp {
namespace {

struct Factory {
  GstRTSPMediaFactory parent;
  Mount* mount;
};
struct FactoryClass {
  GstRTSPMediaFactoryClass parent;
};

GstElement* CreateElement(GstRTSPMediaFactory* factory, const GstRTSPUrl* /*url*/) {
  return reinterpret_cast<Factory*>(factory)->mount->CreatePipeline();
}

void ClassInit(gpointer klass, gpointer /*data*/) {
  static_cast<GstRTSPMediaFactoryClass*>(klass)->create_element = &CreateElement;
}

GType FactoryType() {
  static const GType type = g_type_register_static_simple(
      GST_TYPE_RTSP_MEDIA_FACTORY, "QcrtspMountFactory", sizeof(FactoryClass), &ClassInit,
      sizeof(Factory), nullptr, static_cast<GTypeFlags>(0));
  return type;
}

}  // namespace

GstRTSPMediaFactory* NewMountFactory(Mount& mount) {
  auto* factory = static_cast<Factory*>(g_object_new(FactoryType(), nullptr));
  factory->mount = &mount;
  GstRTSPMediaFactory* f = &factory->parent;
  gst_rtsp_media_factory_set_shared(f, TRUE);
  g_signal_connect(f, "media-configure",
                   G_CALLBACK(+[](GstRTSPMediaFactory*, GstRTSPMedia* media, gpointer m) {
                     static_cast<Mount*>(m)->OnMediaConfigured(media);
                   }),
                   &mount);
  return f;
}

}  // namespace qcrtsp
