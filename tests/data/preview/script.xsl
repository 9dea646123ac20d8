<?xml version="1.0"?>
<!-- A style sheet whose own HTML output runs the document's script text. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform" xmlns:h="http://www.w3.org/1999/xhtml">
  <xsl:output method="html"/>
  <xsl:template match="/">
    <html><body><p><xsl:value-of select="//h:p"/></p>
      <script><xsl:value-of select="//h:script"/></script></body></html>
  </xsl:template>
</xsl:stylesheet>
