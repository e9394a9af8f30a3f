/* The shared library's own translation unit: everything else comes from the
 * qv_core archive, linked whole; exports.map keeps only the public names. */
typedef int qv_link_anchor;
