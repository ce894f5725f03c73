# Station core sources of varnex2_app.
